#ifndef DVK_TEST_DRIVERMODEL_H
#define DVK_TEST_DRIVERMODEL_H

#include <QProcessEnvironment>

// The USB serial driver model (support/drivermodel/DriverModel.cpp): after
// each write to a pseudo-terminal, the output queue reads `queueBytes` until
// `latencyUs` have passed; optionally the line stalls from write `stallAt`
// on, or the adapter is gone after write `hangupAt` (0: never).
struct DriverModel {
    long latencyUs = 1000;
    int queueBytes = 1280;
    long stallAt = 0;
    long hangupAt = 0;

    // The environment for a program that runs with the model.
    QProcessEnvironment
    environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;

    // Applies these settings to the model preloaded into this process; false
    // when it is not loaded.
    bool apply() const;
};

// Runs this program again with the model preloaded, unless it already is.
// Call first thing in main().
void preloadDriverModel(char **argv);

#endif
