#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A fake server on a loopback port that plays one scripted dialogue with one client, for
// whatever line protocol the client speaks. The script is a list of steps, built before
// start(); the server records every way the client departs from it:
//
//   ScriptedServer server;
//   server.sendLine("+OK ready").expectLine("USER ann").sendLine("+OK").close();
//   server.start();
//   ... run the client against server.address() ...
//   EXPECT_THAT(server.failures(), IsEmpty());
//
// A line the client sends must end in CR LF. After the last step (unless it is close()),
// the server keeps reading until the client closes: anything sent then is extra and is a
// failure, as is a client that does not close within the read limit.
class ScriptedServer {
  public:
    ScriptedServer();
    ~ScriptedServer();  // waits for the script to end
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // Sends the bytes as they are.
    ScriptedServer& send(std::string bytes);
    // Sends the line followed by CR LF.
    ScriptedServer& sendLine(const std::string& line);
    // Expects the client to send exactly this line (given without its CR LF).
    ScriptedServer& expectLine(std::string line);
    // Expects lines up to and including one that is exactly "."; the lines before it (with
    // their CR LF, as sent) are kept in dataBlocks().
    ScriptedServer& expectData();
    // Expects exactly these bytes, with no line structure.
    ScriptedServer& expectBytes(std::string bytes);
    // Closes the connection; the script ends here.
    ScriptedServer& close();
    // Sends nothing for the given time; whatever the client sends meanwhile waits to be read.
    ScriptedServer& silent(int milliseconds);

    // How long any one read for an expected step, or the connection itself, is awaited
    // (default 10 s); running out is a failure.
    void setReadLimitMs(int milliseconds) { readLimitMs_ = milliseconds; }

    // Starts the script on its own thread; the port is listening when this returns.
    void start();
    // Waits for the script to end.
    void join();

    int port() const { return port_; }
    // "127.0.0.1:port", as a server setting.
    std::string address() const;

    // Waits for the script to end and gives every departure from it, empty when the client
    // did exactly what the script expected.
    std::vector<std::string> failures();
    // Waits for the script to end and gives every byte the client sent.
    std::string received();
    // Waits for the script to end and gives the text of each expectData() step.
    std::vector<std::string> dataBlocks();

  private:
    struct Step {
        enum Kind { Send, ExpectLine, ExpectData, ExpectBytes, Close, Silent } kind;
        std::string bytes;
        int milliseconds = 0;
    };
    enum class ReadResult { Ok, Closed, TimedOut };

    void run();
    bool runStep(const Step& step);
    void drainUntilClosed();
    ReadResult readLine(std::string& line);
    ReadResult readExactly(std::size_t count, std::string& bytes);
    ReadResult fill();
    void fail(std::string text);

    std::vector<Step> steps_;
    int readLimitMs_ = 10000;
    int listener_ = -1;
    int client_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::string pending_;  // received, not yet taken by a step
    std::mutex mutex_;
    std::vector<std::string> failures_;
    std::string received_;
    std::vector<std::string> dataBlocks_;
};

// A loopback port with a socket bound to it but not listening: a connection to it is refused.
class RefusingPort {
  public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int port() const { return port_; }

  private:
    int socket_ = -1;
    int port_ = 0;
};

// A loopback port that listens but never accepts or reads: connecting succeeds, nothing is
// ever answered, and what the client sends fills the socket buffers until they take no more.
class UnansweredPort {
  public:
    UnansweredPort();
    ~UnansweredPort();
    UnansweredPort(const UnansweredPort&) = delete;
    UnansweredPort& operator=(const UnansweredPort&) = delete;
    int port() const { return port_; }

  private:
    int socket_ = -1;
    int port_ = 0;
};

// A loopback port that was free a moment ago (bound, read back, closed), for a server
// started as a separate program.
int freeLoopbackPort();
