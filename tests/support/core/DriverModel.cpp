#include "support/core/DriverModel.h"

#include <cstdio>
#include <cstdlib>

#include <dlfcn.h>
#include <unistd.h>

namespace
{

using SetFn = void (*)(long, int, long, long);

SetFn loadedModel()
{
    return reinterpret_cast<SetFn>(::dlsym(RTLD_DEFAULT, "dvkDriverModelSet"));
}

} // namespace

QProcessEnvironment DriverModel::environment(QProcessEnvironment base) const
{
    // A sanitizer's runtime must come first among the preloaded libraries.
    base.insert("LD_PRELOAD", DVK_DRIVER_MODEL_PRELOAD);
    base.insert("DVK_MODEL_LATENCY_US", QString::number(latencyUs));
    base.insert("DVK_MODEL_QUEUE", QString::number(queueBytes));
    base.insert("DVK_MODEL_STALL_AT", QString::number(stallAt));
    base.insert("DVK_MODEL_HANGUP_AT", QString::number(hangupAt));
    return base;
}

bool DriverModel::apply() const
{
    const SetFn set = loadedModel();
    if (!set)
        return false;
    set(latencyUs, queueBytes, stallAt, hangupAt);
    return true;
}

void preloadDriverModel(char **argv)
{
    if (loadedModel())
        return;
    ::setenv("LD_PRELOAD", DVK_DRIVER_MODEL_PRELOAD, 1);
    ::execv("/proc/self/exe", argv);
    std::perror("cannot run again with the driver model preloaded");
    std::exit(2);
}
