#ifndef DVK_TEST_CHILDSETUPPROCESS_H
#define DVK_TEST_CHILDSETUPPROCESS_H

// A QProcess that runs `setup` in the child after the fork, before the
// program starts (to drop privileges, say). Qt 5 asks for a subclass, Qt 6
// for a function; this is the one place that knows.

#include <QProcess>

#include <functional>
#include <utility>

class ChildSetupProcess : public QProcess
{
public:
    explicit ChildSetupProcess(std::function<void()> setup) : setup(std::move(setup))
    {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        setChildProcessModifier(this->setup);
#endif
    }

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
protected:
    void setupChildProcess() override
    {
        setup();
    }
#endif

private:
    std::function<void()> setup;
};

#endif
