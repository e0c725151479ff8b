// The TFTP packet codec, and the built-in servers against the clients that
// devices run: busybox's tftp, tftp-hpa's tftp and wget. The server cases
// bind only inside the sandbox's utility namespace, where test_serve.py runs
// this program with TARN_SERVE_ADDRESS set; elsewhere they are skipped.
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "refusal.h"
#include "serve_http.h"
#include "serve_tftp.h"
#include "tftp_packet.h"

using namespace tarn;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

// A packet written as a literal, its NUL bytes included.
template <size_t N>
std::vector<uint8_t> raw(const char (&s)[N]) {
    return bytes({s, N - 1});
}

}  // namespace

TEST(TftpPacket, ReadsRequestsWithTheirOptions) {
    using Size = std::optional<size_t>;
    using Length = std::optional<uint64_t>;
    // The block size offered is smaller than asked for, as RFC 2348 allows.
    const auto rrq = tftp::parsePacket(raw("\0\1fw.bin\0OCTET\0BlkSize\0002000\0tsize\0000\0"));
    ASSERT_TRUE(rrq);
    EXPECT_EQ(
        std::tie(rrq->opcode, rrq->request.file, rrq->request.mode, rrq->request.blockSize,
                 rrq->request.transferSize),
        std::tuple(tftp::Opcode::Rrq, "fw.bin", "octet", Size(tftp::kMaxBlockSize), Length(0)));
    // Too small or unreadable options are ignored, not refused.
    const auto wrq = tftp::parsePacket(raw("\0\2a\0octet\0blksize\0007\0tsize\0x\0"));
    ASSERT_TRUE(wrq);
    EXPECT_EQ(std::tie(wrq->opcode, wrq->request.blockSize, wrq->request.transferSize),
              std::tuple(tftp::Opcode::Wrq, Size(), Length()));
    const std::vector<uint8_t> datagram = raw("\0\3\1\2xyz");
    const auto data = tftp::parsePacket(datagram);  // points into the datagram
    ASSERT_TRUE(data);
    EXPECT_EQ(std::tuple(data->block, std::string(data->data.begin(), data->data.end())),
              std::tuple(0x0102, "xyz"));
    const auto error = tftp::parsePacket(raw("\0\5\0\1gone\0"));
    ASSERT_TRUE(error);
    EXPECT_EQ(std::tie(error->error, error->message),
              std::tuple(tftp::ErrorCode::FileNotFound, "gone"));
}

TEST(TftpPacket, RefusesMalformedPackets) {
    for (const std::vector<uint8_t> &bad : {
             raw("\0"),                       // no opcode
             raw("\0\1name\0octet"),          // mode not terminated
             raw("\0\1\0octet\0"),            // empty file name
             raw("\0\1a\0octet\0blksize\0"),  // option without a value
             raw("\0\4\0"),                   // short acknowledgement
             raw("\0\4\0\1\0"),               // long acknowledgement
             raw("\0\5\0\1msg"),              // error text not terminated
             raw("\0\6blksize\000512\0"),     // OACK comes from servers only
             raw("\0\7"),                     // unknown opcode
             std::vector<uint8_t>(tftp::kMaxPacketLen + 1, 3),
         })
        EXPECT_FALSE(tftp::parsePacket(bad)) << testing::PrintToString(bad);
}

TEST(TftpPacket, EncodesFieldsInNetworkOrder) {
    EXPECT_EQ(tftp::encodeData(0x1234, bytes("ab")), raw("\0\3\022\064ab"));
    EXPECT_EQ(tftp::encodeAck(0xFFFF), raw("\0\4\xff\xff"));
    EXPECT_EQ(tftp::encodeError(tftp::ErrorCode::AccessViolation, "no"), raw("\0\5\0\2no\0"));
    EXPECT_EQ(tftp::encodeOack(1024), raw("\0\6blksize\0001024\0"));
}

namespace {

class Served : public testing::Test {
protected:
    void SetUp() override {
        const char *address = std::getenv("TARN_SERVE_ADDRESS");
        if (address == nullptr)
            GTEST_SKIP() << "binds only in the sandbox (tests/integration/test_serve.py)";
        address_ = address;
        char dir[] = "/tmp/tarn-serve-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        fs::create_directory(dir_ / "in");
    }
    void TearDown() override {
        if (!dir_.empty())
            fs::remove_all(dir_);
    }

    ServeConfig config(std::vector<std::pair<std::string, std::string>> files,
                       std::vector<std::string> receive = {}) {
        ServeConfig c;
        c.address = address_;
        for (auto &[name, content] : files)
            c.files.push_back({name, std::make_shared<const std::string>(content)});
        c.receiveDir = dir_ / "in";
        c.receiveNames = std::move(receive);
        c.retransmit = std::chrono::milliseconds(300);
        return c;
    }

    // Runs a client; its exit status.
    int client(const std::string &command) {
        return std::system((command + " >/dev/null 2>&1").c_str());
    }

    std::string local(const std::string &name) { return (dir_ / name).string(); }

    static std::string contentOf(const fs::path &path) {
        return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
    }

    // The events up to the one that ends a transfer, which must come promptly.
    static std::vector<TransferEvent> transfer(TransferEvents &events) {
        std::vector<TransferEvent> seen;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::optional<TransferEvent> e = events.next(deadline)) {
            seen.push_back(*e);
            if (e->state != TransferState::Started)
                break;
        }
        return seen;
    }

    std::string address_;
    fs::path dir_;
};

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = static_cast<char>(i * 7 + i / 251);
    return s;
}

}  // namespace

TEST_F(Served, TftpServesOnlyTheNamedFileToBothClients) {
    const std::string image = pattern(3000), even = pattern(1024);
    TftpServer server(config({{"fw.bin", image}, {"even.bin", even}}));
    const std::string at = address_ + " " + std::to_string(server.port());
    struct Case {
        std::string command, file;
        const std::string &content;
    } cases[] = {
        // The block size option, and a last block of its full size.
        {"busybox tftp -b 1024 -g -l " + local("b") + " -r even.bin " + at, "b", even},
        // tftp-hpa asks for no options and ends with an empty block here.
        {"tftp -m binary " + at + " -c get even.bin " + local("c"), "c", even},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(client(c.command), 0) << c.command;
        EXPECT_EQ(contentOf(dir_ / c.file), c.content) << c.command;
        const std::vector<TransferEvent> events = transfer(server.events());
        ASSERT_EQ(events.size(), 2u) << c.command;
        EXPECT_EQ(std::tie(events[1].state, events[1].bytes, events[1].peer),
                  std::tuple(TransferState::Complete, c.content.size(), address_));
    }
    EXPECT_NE(client("busybox tftp -g -l " + local("d") + " -r other.bin " + at), 0);
    // tftp-hpa exits 0 whatever happened; the server's events tell.
    client("tftp -m netascii " + at + " -c get fw.bin " + local("e"));
    for (const char *reason : {"asked for other.bin, which is not served.",
                               "asked for fw.bin in netascii mode; only octet (binary) mode"}) {
        const std::vector<TransferEvent> events = transfer(server.events());
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].state, TransferState::Failed);
        EXPECT_NE(events[0].reason.find(reason), std::string::npos) << events[0].reason;
    }
}

TEST_F(Served, TftpReceivesOnlyExpectedNamesAndLeavesNothingHalfWritten) {
    ServeConfig c = config({}, {"02-00-00-00-00-01.cfg", "02-00-00-00-00-02.cfg"});
    c.maxFileSize = 4000;
    TftpServer server(c);
    const std::string at = address_ + " " + std::to_string(server.port());
    std::ofstream(local("small"), std::ios::binary) << pattern(1500);
    std::ofstream(local("large"), std::ios::binary) << pattern(5000);
    EXPECT_EQ(client("busybox tftp -p -l " + local("small") + " -r 02-00-00-00-00-01.cfg " + at),
              0);
    EXPECT_EQ(
        client("tftp -m binary " + at + " -c put " + local("small") + " 02-00-00-00-00-02.cfg"), 0);
    for (int i = 0; i < 2; i++) {
        const std::vector<TransferEvent> events = transfer(server.events());
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(std::tie(events[1].upload, events[1].state),
                  std::tuple(true, TransferState::Complete));
    }
    EXPECT_EQ(contentOf(dir_ / "in/02-00-00-00-00-01.cfg"), pattern(1500));
    EXPECT_EQ(contentOf(dir_ / "in/02-00-00-00-00-02.cfg"), pattern(1500));

    // An unexpected name, and a file over the limit (tftp-hpa does not
    // announce its size, so the server finds out while receiving).
    EXPECT_NE(client("busybox tftp -p -l " + local("small") + " -r other.cfg " + at), 0);
    client("tftp -m binary " + at + " -c put " + local("large") + " 02-00-00-00-00-01.cfg");
    for (const char *reason :
         {"tried to send other.cfg, which is not expected.", "exceeds the 4000 bytes accepted."}) {
        const std::vector<TransferEvent> events = transfer(server.events());
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().state, TransferState::Failed);
        EXPECT_NE(events.back().reason.find(reason), std::string::npos) << events.back().reason;
    }
    server.stop();
    // The earlier complete file stays; nothing else is in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "in"), fs::directory_iterator()), 2);
    EXPECT_EQ(contentOf(dir_ / "in/02-00-00-00-00-01.cfg"), pattern(1500));
}

TEST_F(Served, TftpRefusesUploadsFromAnotherSenderUnreported) {
    ServeConfig c = config({{"fw.bin", "image"}}, {"02-00-00-00-00-01.cfg"});
    c.sender = "192.0.2.254";
    TftpServer server(c);
    const std::string at = address_ + " " + std::to_string(server.port());
    std::ofstream(local("forged"), std::ios::binary) << "forged";
    EXPECT_EQ(client("busybox tftp -p -l " + local("forged") + " -r 02-00-00-00-00-01.cfg " + at +
                     " 2>&1 | grep -q 'Access violation'"),
              0);
    // Anyone may read: the read's events come first, so the refusal posted none.
    EXPECT_EQ(client("busybox tftp -g -l " + local("a") + " -r fw.bin " + at), 0);
    const std::vector<TransferEvent> events = transfer(server.events());
    ASSERT_EQ(events.size(), 2u);
    EXPECT_FALSE(events[0].upload);
    EXPECT_EQ(events[1].state, TransferState::Complete);
    EXPECT_FALSE(fs::exists(dir_ / "in/02-00-00-00-00-01.cfg"));
}

TEST_F(Served, TftpPortAnswersOnlyRequests) {
    TftpServer server(config({}));
    addrinfo hints{}, *ai = nullptr;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    ASSERT_EQ(getaddrinfo(address_.c_str(), std::to_string(server.port()).c_str(), &hints, &ai), 0);
    const int fd = socket(ai->ai_family, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(connect(fd, ai->ai_addr, ai->ai_addrlen), 0);
    freeaddrinfo(ai);
    const timeval patience{30, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    // An error packet and an acknowledgement go unanswered; the request
    // sent after them gets the first answer.
    for (const std::vector<uint8_t> &p : {tftp::encodeError(tftp::ErrorCode::NotDefined, "x"),
                                          tftp::encodeAck(1), raw("\0\1fw.bin\0octet\0")})
        ASSERT_EQ(send(fd, p.data(), p.size(), 0), static_cast<ssize_t>(p.size()));
    std::vector<uint8_t> answer(600);
    const ssize_t n = recv(fd, answer.data(), answer.size(), 0);
    close(fd);
    ASSERT_GT(n, 0);
    answer.resize(static_cast<size_t>(n));
    EXPECT_EQ(answer, tftp::encodeError(tftp::ErrorCode::FileNotFound, "File not found"));
}

TEST_F(Served, HttpServesOnlyTheNamedFile) {
    const std::string image = pattern(200000);
    HttpServer server(config({{"fw.bin", image}}));
    const std::string url = "http://" + address_ + ":" + std::to_string(server.port()) + "/";
    EXPECT_EQ(client("wget -q -O " + local("a") + " " + url + "fw.bin"), 0);
    EXPECT_EQ(contentOf(dir_ / "a"), image);
    for (const char *other : {"other.bin", "fw.bin/", "FW.BIN", "%2e%2e/fw.bin"})
        EXPECT_NE(client("wget -q -O " + local("b") + " " + url + other), 0) << other;
}

TEST_F(Served, APortInUseIsNamedInTheError) {
    TftpServer first(config({}));
    ServeConfig again = config({});
    again.port = first.port();
    EXPECT_NE(refusal([&] { TftpServer second(again); })
                  .find("the TFTP server cannot listen on " + address_ + ":" +
                        std::to_string(first.port()) + ": the port is taken by another program"),
              std::string::npos);
}
