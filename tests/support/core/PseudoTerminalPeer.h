#ifndef DVK_TEST_PSEUDOTERMINALPEER_H
#define DVK_TEST_PSEUDOTERMINALPEER_H

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class QSocketNotifier;

// The far end of a pseudo-terminal, served from the test's event loop, for
// projector behaviour the simulator does not offer. The port's user opens
// path(); what it writes collects in received(), and send() answers.
class PseudoTerminalPeer
{
public:
    PseudoTerminalPeer();
    ~PseudoTerminalPeer();
    PseudoTerminalPeer(const PseudoTerminalPeer &) = delete;
    PseudoTerminalPeer &operator=(const PseudoTerminalPeer &) = delete;

    bool isOpen() const { return master >= 0; }
    QString path() const { return devicePath; }
    QByteArray received() const { return input; }
    // Runs on the event loop each time new bytes have been added to received().
    void onReceived(std::function<void()> handler) { receivedHandler = std::move(handler); }
    bool send(const QByteArray &bytes);

private:
    void readAvailable();

    int master = -1;
    int keep = -1; // the device end, held open so that a client's close is no hang-up
    QString devicePath;
    QByteArray input;
    std::unique_ptr<QSocketNotifier> notifier;
    std::function<void()> receivedHandler;
};

#endif
