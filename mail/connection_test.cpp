#include "mail/connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "testing/scripted_server.h"

using ::testing::AnyOf;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::StrEq;

namespace {

// n bytes of a repeating, position-dependent pattern, so a lost or doubled block shows.
std::string pattern(std::size_t n) {
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>('A' + (i * 7 + i / 26) % 26);
    return bytes;
}

class ConnectionTest : public ::testing::Test {
  protected:
    ConnectionContext context() { return ConnectionContext{&error, &bytesSent, timeoutMs}; }

    // Opens a connection to a loopback port; fails the test when it cannot.
    connection* openLoopback(int port) {
        connection* conn = nullptr;
        EXPECT_EQ(kGensockOk,
                  gensock_open("127.0.0.1", std::to_string(port).c_str(), context(), &conn));
        return conn;
    }

    // Reads n characters, or as many as arrive before a read fails.
    std::string readChars(connection* conn, std::size_t n, int* result) {
        std::string text;
        *result = kGensockOk;
        for (std::size_t i = 0; i < n; ++i) {
            char c = 0;
            *result = gensock_read_char(conn, &c);
            if (*result != kGensockOk)
                break;
            text += c;
        }
        return text;
    }

    std::string error;
    std::int64_t bytesSent = 0;
    int timeoutMs = 5000;
};

}  // namespace

TEST_F(ConnectionTest, OpenRefusesBadServicesAndHostsWithTheirCodes) {
    RefusingPort refusing;
    connection* conn = reinterpret_cast<connection*>(1);
    EXPECT_EQ(kGensockServiceNotFound, gensock_open("127.0.0.1", "", context(), &conn));
    EXPECT_EQ(nullptr, conn);
    EXPECT_EQ(kGensockServiceNotFound, gensock_open("127.0.0.1", "65536", context(), &conn));
    EXPECT_EQ(kGensockServiceNotFound,
              gensock_open("127.0.0.1", "no-such-service-here", context(), &conn));
    EXPECT_EQ(kGensockHostNotFound, gensock_open("no-such-host.invalid", "110", context(), &conn));
    EXPECT_EQ(nullptr, conn);
    std::string port = std::to_string(refusing.port());
    EXPECT_EQ(kGensockRefused, gensock_open("127.0.0.1", port.c_str(), context(), &conn));
    EXPECT_EQ(nullptr, conn);
    // None of these leaves a text; only an unexpected connect error does.
    EXPECT_EQ("", error);
    EXPECT_EQ(0, bytesSent);
}

TEST_F(ConnectionTest, AnUnexpectedConnectErrorLeavesItsText) {
    // TCP cannot connect to a multicast address; the platform says so with its own code.
    connection* conn = nullptr;
    EXPECT_EQ(kGensockConnectError, gensock_open("224.0.0.1", "9", context(), &conn));
    EXPECT_EQ(nullptr, conn);
    EXPECT_THAT(error, MatchesRegex("unexpected error [0-9]+ from winsock\n"));
}

TEST_F(ConnectionTest, ServiceNamesAreLookedUpForTcp) {
    // "pop3" is port 110 in the services file: the lookup succeeds, then nothing listens
    // there (refused) or something does (connected).
    connection* conn = nullptr;
    int r = gensock_open("127.0.0.1", "pop3", context(), &conn);
    EXPECT_THAT(r, AnyOf(kGensockOk, kGensockRefused));
    gensock_release(conn);
}

TEST_F(ConnectionTest, EveryOperationOnAMissingConnectionFailsWithoutTouchingAnything) {
    char c = 'x';
    EXPECT_EQ(kGensockNoConnection, gensock_read_char(nullptr, &c));
    EXPECT_EQ('x', c);
    EXPECT_EQ(kGensockNoConnection, gensock_put_data(nullptr, "abc", 3));
    EXPECT_EQ(1, gensock_put_buffered(nullptr, "abc", 3));
    EXPECT_EQ(1, gensock_flush(nullptr));
    EXPECT_EQ(kGensockNoConnection, gensock_release(nullptr));
    EXPECT_EQ(0, bytesSent);
}

TEST_F(ConnectionTest, ReadsHandOutEveryByteInOrderAcrossBlocksThenReportTheClose) {
    std::string sent = pattern(1300) + std::string("\0\r\n\xff", 4);
    ScriptedServer server;
    server.send(sent).close();
    server.start();
    connection* conn = openLoopback(server.port());
    int result = 0;
    EXPECT_EQ(sent, readChars(conn, sent.size(), &result));
    EXPECT_EQ(kGensockOk, result);
    char c = 0;
    EXPECT_EQ(kGensockConnectionLost, gensock_read_char(conn, &c));
    EXPECT_EQ(kGensockConnectionLost, gensock_read_char(conn, &c));  // nothing stale after it
    EXPECT_EQ(kGensockOk, gensock_release(conn));
    EXPECT_THAT(server.failures(), IsEmpty());
}

TEST_F(ConnectionTest, ACloseInTheMiddleOfALineEndsTheReadsAfterTheLastByte) {
    ScriptedServer server;
    server.send("+OK par").close();
    server.start();
    connection* conn = openLoopback(server.port());
    int result = 0;
    EXPECT_EQ("+OK par", readChars(conn, 100, &result));
    EXPECT_EQ(kGensockConnectionLost, result);
    EXPECT_EQ(kGensockOk, gensock_release(conn));
}

TEST_F(ConnectionTest, LinesAreReadWholeWhereverTheReceivesCutThem) {
    // A line longer than the receive buffer, a line that arrives in two pieces, an empty
    // line, and a line longer than what the caller keeps.
    const std::string longLine = pattern(200000);
    ScriptedServer server;
    server.send(longLine + "\r\n" + "first half, ")
        .silent(50)
        .send("second half\n\n")
        .send(pattern(300) + "\n")
        .close();
    server.start();
    connection* conn = openLoopback(server.port());
    std::string_view line;
    std::string spill;
    struct Expected {
        std::string text;
        std::size_t maxKeep;
    } expected[] = {{longLine + "\r", 300000},
                    {"first half, second half", 300000},
                    {"", 300000},
                    {pattern(100), 100}};
    for (const Expected& e : expected) {
        ASSERT_EQ(kGensockOk, gensock_read_line(conn, &line, &spill, e.maxKeep, false));
        EXPECT_EQ(e.text, line);
    }
    EXPECT_EQ(kGensockConnectionLost, gensock_read_line(conn, &line, &spill, 100, false));
    EXPECT_EQ(kGensockOk, gensock_release(conn));
}

TEST_F(ConnectionTest, ASilentServerMakesTheReadTimeOut) {
    UnansweredPort silent;
    timeoutMs = 200;
    connection* conn = openLoopback(silent.port());
    char c = 0;
    EXPECT_EQ(kGensockTimeout, gensock_read_char(conn, &c));
    EXPECT_EQ("", error);
    EXPECT_EQ(kGensockOk, gensock_release(conn));
}

TEST_F(ConnectionTest, BufferedWritesGoOutInWhole512ByteBlocksAndFlushSendsTheRest) {
    std::string data = pattern(1300);
    ScriptedServer server;
    server.expectBytes(data.substr(0, 1024)).sendLine("got").expectBytes(data.substr(1024));
    server.start();
    connection* conn = openLoopback(server.port());

    EXPECT_EQ(0, gensock_put_buffered(conn, data.data(), data.size()));
    EXPECT_EQ(1024, bytesSent);  // two blocks sent, 276 bytes wait
    int result = 0;
    EXPECT_EQ("got\r\n", readChars(conn, 5, &result));  // the server has the two blocks
    EXPECT_EQ(0, gensock_flush(conn));
    EXPECT_EQ(1300, bytesSent);
    EXPECT_EQ(0, gensock_flush(conn));  // nothing left to send
    EXPECT_EQ(1300, bytesSent);
    EXPECT_EQ(kGensockOk, gensock_release(conn));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_EQ(data, server.received());
}

TEST_F(ConnectionTest, FillingTheSendBufferExactlySendsTheBlockAtOnce) {
    std::string data = pattern(512);
    ScriptedServer server;
    server.expectBytes(data);
    server.start();
    connection* conn = openLoopback(server.port());
    EXPECT_EQ(0, gensock_put_buffered(conn, data.data(), 500));
    EXPECT_EQ(0, bytesSent);
    EXPECT_EQ(0, gensock_put_buffered(conn, data.data() + 500, 12));
    EXPECT_EQ(512, bytesSent);
    EXPECT_EQ(0, gensock_flush(conn));
    EXPECT_EQ(512, bytesSent);
    EXPECT_EQ(kGensockOk, gensock_release(conn));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_EQ(data, server.received());
}

TEST_F(ConnectionTest, BufferedWritesAfterAPartialBlockKeepTheBlocksWhole) {
    std::string data = pattern(1400);
    ScriptedServer server;
    server.expectBytes(data.substr(0, 1024)).sendLine("got").expectBytes(data.substr(1024));
    server.start();
    connection* conn = openLoopback(server.port());
    EXPECT_EQ(0, gensock_put_buffered(conn, data.data(), 100));
    EXPECT_EQ(0, bytesSent);
    // 412 fill the waiting block, 512 go out whole, 376 wait.
    EXPECT_EQ(0, gensock_put_buffered(conn, data.data() + 100, 1300));
    EXPECT_EQ(1024, bytesSent);
    int result = 0;
    EXPECT_EQ("got\r\n", readChars(conn, 5, &result));
    EXPECT_EQ(0, gensock_flush(conn));
    EXPECT_EQ(1400, bytesSent);
    EXPECT_EQ(kGensockOk, gensock_release(conn));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_EQ(data, server.received());
}

TEST_F(ConnectionTest, UnbufferedWritesSendEveryByteAndCountThem) {
    std::string data = pattern(2500);
    ScriptedServer server;
    server.expectBytes(data).expectLine("end");
    server.start();
    connection* conn = openLoopback(server.port());
    bytesSent = 100;  // the run's earlier traffic
    EXPECT_EQ(kGensockOk, gensock_put_data(conn, data.data(), data.size()));
    EXPECT_EQ(2600, bytesSent);
    EXPECT_EQ(kGensockOk, gensock_put_data(conn, "", 0));
    EXPECT_EQ(kGensockOk, gensock_put_data(conn, "end\r\n", 5));
    EXPECT_EQ(2605, bytesSent);
    EXPECT_EQ(kGensockOk, gensock_release(conn));
    EXPECT_THAT(server.failures(), IsEmpty());
}

TEST_F(ConnectionTest, WritingToAClosedPeerReportsTheSendErrorWithoutASignal) {
    ScriptedServer server;
    server.close();
    server.start();
    connection* conn = openLoopback(server.port());
    server.join();
    std::string block = pattern(1000);
    int result = kGensockOk;
    for (int i = 0; i < 100 && result == kGensockOk; ++i)
        result = gensock_put_data(conn, block.data(), block.size());
    // The peer's reset shows on the first send after it, a closed pipe on any later one.
    EXPECT_EQ(kGensockSendError, result);
    EXPECT_THAT(error, AnyOf(StrEq("put_data() unexpected error from send(): 104"),
                             StrEq("put_data() unexpected error from send(): 32")));
    EXPECT_EQ(kGensockOk, gensock_release(conn));
}

TEST_F(ConnectionTest, APeerThatTakesNoDataMakesTheWriteTimeOutInsteadOfWaitingForever) {
    UnansweredPort silent;
    timeoutMs = 200;
    connection* conn = openLoopback(silent.port());
    std::string data(32 * 1024 * 1024, 'x');
    EXPECT_EQ(kGensockTimeout, gensock_put_data(conn, data.data(), data.size()));
    EXPECT_GT(bytesSent, 0);
    EXPECT_LT(bytesSent, static_cast<std::int64_t>(data.size()));
    EXPECT_EQ(kGensockOk, gensock_release(conn));
}

TEST(SplitServerAndPort, TakesThePortAfterTheColonOrTheDefault) {
    std::string host, service;
    splitServerAndPort("mail.example.org", "110", host, service);
    EXPECT_EQ("mail.example.org", host);
    EXPECT_EQ("110", service);
    splitServerAndPort("127.0.0.1:2525", "25", host, service);
    EXPECT_EQ("127.0.0.1", host);
    EXPECT_EQ("2525", service);
    splitServerAndPort("mail.example.org:pop3", "110", host, service);
    EXPECT_EQ("mail.example.org", host);
    EXPECT_EQ("pop3", service);
    splitServerAndPort("mail.example.org:", "110", host, service);  // open then says 4014
    EXPECT_EQ("mail.example.org", host);
    EXPECT_EQ("", service);
}
