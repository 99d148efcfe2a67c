// TcpSocket and SocketSession against real sockets on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/tcp_socket.h"
#include "tests/net/sockets.h"

namespace {

using net::TcpSocket;

// A listening socket on 127.0.0.1 and a client connected to it, accepted.
struct Pair {
  TcpSocket listener;
  TcpSocket client;
  TcpSocket server;
  uint16_t port = 0;

  bool Open() {
    rt::Text host;
    return listener.Create() && listener.Bind(0, "127.0.0.1") && listener.Listen() &&
           listener.LocalAddress(host, port) && client.Create() &&
           client.Connect("127.0.0.1", port) && listener.Accept(server);
  }
};

TEST(SocketSession, Starts) { EXPECT_EQ(nettest::StartSockets(), 0); }

TEST(TcpSocket, CloseIsHarmlessOnNewAndClosedObjects) {
  TcpSocket socket;
  EXPECT_EQ(socket.Handle(), net::kNoSocket);
  socket.Close();
  EXPECT_EQ(socket.Handle(), net::kNoSocket);
  ASSERT_TRUE(socket.Create());
  EXPECT_NE(socket.Handle(), net::kNoSocket);
  socket.Close();
  socket.Close();
  EXPECT_EQ(socket.Handle(), net::kNoSocket);
}

TEST(TcpSocket, SendOfEmptyBufferSucceedsWithoutASocket) {
  TcpSocket socket;
  EXPECT_TRUE(socket.Send(rt::Bytes()));
}

TEST(TcpSocket, BindAndResolveFailuresReportInvalidArgument) {
  struct Case {
    const char* address;
  } const bad_bind[] = {{"255.255.255.255"}, {"not-an-address"}, {"300.1.1.1"}};
  for (const Case& c : bad_bind) {
    TcpSocket socket;
    ASSERT_TRUE(socket.Create());
    EXPECT_FALSE(socket.Bind(0, c.address)) << c.address;
    EXPECT_EQ(TcpSocket::LastError(), net::kErrorInvalidArgument) << c.address;
  }
  const char* const bad_hosts[] = {"no-such-host.invalid", ""};
  for (const char* host : bad_hosts) {
    TcpSocket socket;
    ASSERT_TRUE(socket.Create());
    EXPECT_FALSE(socket.Connect(host, 80)) << host;
    EXPECT_EQ(TcpSocket::LastError(), net::kErrorInvalidArgument) << host;
    EXPECT_EQ(socket.SendTo(rt::Bytes{1}, host, 80), 0) << host;
  }
}

TEST(TcpSocket, BindPortZeroLetsTheSystemChoose) {
  TcpSocket socket;
  ASSERT_TRUE(socket.Create());
  ASSERT_TRUE(socket.Bind(0));
  rt::Text host;
  uint16_t port = 0;
  ASSERT_TRUE(socket.LocalAddress(host, port));
  EXPECT_EQ(host, "0.0.0.0");
  EXPECT_NE(port, 0);
}

TEST(TcpSocket, ConnectToAClosedPortIsRefused) {
  uint16_t port = 0;
  {
    TcpSocket probe;
    rt::Text host;
    ASSERT_TRUE(probe.Create() && probe.Bind(0, "127.0.0.1") && probe.LocalAddress(host, port));
  }
  TcpSocket socket;
  ASSERT_TRUE(socket.Create());
  EXPECT_FALSE(socket.Connect("127.0.0.1", port));
  EXPECT_EQ(TcpSocket::LastError(), 10061);  // connection refused
}

TEST(TcpSocket, AddressesOfBothEnds) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  rt::Text client_host;
  uint16_t client_port = 0;
  rt::Text peer_host;
  uint16_t peer_port = 0;
  ASSERT_TRUE(pair.client.LocalAddress(client_host, client_port));
  ASSERT_TRUE(pair.server.PeerAddress(peer_host, peer_port));
  EXPECT_EQ(peer_host, "127.0.0.1");
  EXPECT_EQ(peer_port, client_port);
  ASSERT_TRUE(pair.client.PeerAddress(peer_host, peer_port));
  EXPECT_EQ(peer_port, pair.port);

  // A closed socket has no address: "" and 0.
  TcpSocket closed;
  rt::Text host = "x";
  uint16_t port = 7;
  EXPECT_FALSE(closed.LocalAddress(host, port));
  EXPECT_EQ(host, "");
  EXPECT_EQ(port, 0);
  host = "x";
  EXPECT_FALSE(pair.listener.PeerAddress(host, port));
  EXPECT_EQ(host, "");
}

TEST(TcpSocket, ReceiveReturnsAtMost8191BytesPerCall) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  rt::Bytes sent(20000);
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i * 31 + 7);
  ASSERT_TRUE(pair.server.Send(sent));
  // Bytes that arrived before the peer closed are all handed out first.
  pair.server.Close();
  rt::Bytes received;
  rt::Bytes chunk;
  int calls = 0;
  while (received.size() < sent.size() && calls < 100 && pair.client.Receive(chunk, 5)) {
    EXPECT_LE(chunk.size(), 8191u);
    received.insert(received.end(), chunk.begin(), chunk.end());
    ++calls;
  }
  EXPECT_EQ(received, sent);
  EXPECT_GE(calls, 3);
  EXPECT_FALSE(pair.client.Receive(chunk, 5));
  EXPECT_TRUE(chunk.empty());
}

TEST(TcpSocket, ReceiveFailsEmptyOnClosedPeerAndOnTimeOut) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  rt::Bytes data{1, 2, 3};
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(pair.client.Receive(data, 1));
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_TRUE(data.empty());
  EXPECT_GE(waited, std::chrono::milliseconds(900));

  pair.server.Close();
  data = {1, 2, 3};
  EXPECT_FALSE(pair.client.Receive(data, 5));
  EXPECT_TRUE(data.empty());
}

TEST(TcpSocket, HandleAndAcceptCloseWhatTheObjectHeld) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  // Accepting into `server` again closes the connection it held: the client
  // sees its peer gone.
  TcpSocket second;
  ASSERT_TRUE(second.Create());
  ASSERT_TRUE(second.Connect("127.0.0.1", pair.port));
  ASSERT_TRUE(pair.listener.Accept(pair.server));
  rt::Bytes data;
  EXPECT_FALSE(pair.client.Receive(data, 5));
  EXPECT_TRUE(pair.server.Send(rt::Bytes{42}));
  ASSERT_TRUE(second.Receive(data, 5));
  EXPECT_EQ(data, rt::Bytes{42});

  // Release gives the handle up unclosed; Handle(new) closes what the
  // object held and takes the new one, which still talks to the same peer.
  TcpSocket taker;
  ASSERT_TRUE(taker.Create());
  const net::SocketHandle moved = second.Release();
  EXPECT_EQ(second.Handle(), net::kNoSocket);
  EXPECT_EQ(taker.Handle(moved), moved);
  ASSERT_TRUE(taker.Send(rt::Bytes{7}));
  ASSERT_TRUE(pair.server.Receive(data, 5));
  EXPECT_EQ(data, rt::Bytes{7});
}

TEST(TcpSocket, DatagramsCarryTheirSender) {
  TcpSocket receiver;
  TcpSocket sender;
  rt::Text host;
  uint16_t port = 0;
  ASSERT_TRUE(receiver.Create(true) && receiver.Bind(0, "127.0.0.1") &&
              receiver.LocalAddress(host, port));
  ASSERT_TRUE(sender.Create(true) && sender.Bind(0, "127.0.0.1"));
  EXPECT_TRUE(sender.EnableBroadcast());
  rt::Text sender_host;
  uint16_t sender_port = 0;
  ASSERT_TRUE(sender.LocalAddress(sender_host, sender_port));

  const rt::Bytes message{'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(sender.SendTo(message, "127.0.0.1", port), 5);
  rt::Text from;
  uint16_t from_port = 0;
  EXPECT_EQ(receiver.ReceiveFrom(from, from_port, 5), message);
  EXPECT_EQ(from, "127.0.0.1");
  EXPECT_EQ(from_port, sender_port);

  // A time-out gives nothing and leaves host and port as they were.
  from = "unchanged";
  from_port = 1234;
  EXPECT_TRUE(receiver.ReceiveFrom(from, from_port, 1).empty());
  EXPECT_EQ(from, "unchanged");
  EXPECT_EQ(from_port, 1234);
}

}  // namespace
