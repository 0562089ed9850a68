// The control socket through the real launcher: who may attach, what a
// console gets and sends, and what the launcher leaves alone at the path.
#include "control_client.h"
#include "file_text.h"
#include "server_run.h"
#include "skip.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t kOtherUid = 30123;

RunOptions KeptOpen(std::vector<std::pair<std::string, std::string>> environment = {})
{
    RunOptions options;
    options.stdinKind = Stdin::kPipeKeptOpen;
    options.environment = std::move(environment);
    return options;
}

// A socket bound at path; listening when live, left stale otherwise.
int BindAt(const std::string& path, bool live)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof(address.sun_path) - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    if (live) {
        listen(fd, 1);
        return fd;
    }
    close(fd);
    return -1;
}

// What a process of another user meets at path: "EACCES" when it may not
// connect, else the first line the launcher sends it.
std::string AsOtherUser(const std::string& path)
{
    int ends[2];
    if (pipe(ends) != 0)
        return "no pipe";
    pid_t child = fork();
    if (child == 0) {
        std::string met = "setuid failed";
        if (setuid(kOtherUid) == 0) {
            ControlClient client(path);
            met = !client.Connected() ? "EACCES" : client.ReadUntil("\n") ? client.Received() : "";
        }
        _exit(write(ends[1], met.data(), met.size()) < 0);
    }
    close(ends[1]);
    char met[256] = {};
    ssize_t count = read(ends[0], met, sizeof(met) - 1);
    close(ends[0]);
    waitpid(child, nullptr, 0);
    return count > 0 ? std::string(met, count) : "";
}

TEST(ControlSocketTest, TwoConsolesSeeTheRecentOutputThenEveryLineAndTheirLinesReachTheEngine)
{
    ServerDir dir;
    std::string path = dir.File("control");
    mode_t mask = umask(0);
    RunningServer server(dir, {"-controlsocket", path}, KeptOpen({{"TARN_TEST_PRINT", "before\n"}}));
    ASSERT_TRUE(server.WaitForOutput("before"));
    umask(mask);
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    ControlClient a(path), b(path);
    ASSERT_TRUE(a.ReadUntil("before\n"));
    ASSERT_TRUE(b.ReadUntil("before\n"));
    a.Send("from a\n");
    b.Send("from\x01 b\n");  // a control byte is left out, as the line editor does
    std::string uid = std::to_string(geteuid());
    for (ControlClient* client : {&a, &b}) {
        EXPECT_TRUE(client->ReadUntil("uid " + uid + "> from a\nfrom a\n"));
        EXPECT_TRUE(client->ReadUntil("uid " + uid + "> from b\nfrom b\n"));
    }
    std::vector<std::string> submits = Matching(dir.Log(), "submit ");
    ASSERT_EQ(submits.size(), 2u);
    EXPECT_NE(submits[0].find("text=[from a\\n]"), std::string::npos);
    EXPECT_NE(submits[1].find("text=[from b\\n]"), std::string::npos);
    server.Type("quit\n");
    ExpectCleanEnd(server.Finish());
    EXPECT_FALSE(dir.Exists("control"));
}

TEST(ControlSocketTest, RefusesANinthConsoleALineTooLongAndAnotherUser)
{
    ServerDir dir;
    std::string path = dir.File("control");
    RunningServer server(dir, {"-controlsocket", path}, KeptOpen());
    ASSERT_TRUE(server.WaitForOutput("Console initialized."));
    std::vector<std::unique_ptr<ControlClient>> clients;
    for (int i = 0; i < 8; ++i) {
        clients.push_back(std::make_unique<ControlClient>(path));
        ASSERT_TRUE(clients.back()->ReadUntil("Console initialized."));
    }
    ControlClient ninth(path);
    EXPECT_TRUE(ninth.ReadUntil("Refused: too many clients.\n"));
    EXPECT_TRUE(ninth.WaitClosedUnread(5000));
    clients[0]->Send(std::string(255, 'x') + "\n" + std::string(254, 'y') + "\n");
    EXPECT_TRUE(clients[0]->ReadUntil("Refused: line longer than 254 characters.\n"));
    EXPECT_TRUE(clients[0]->ReadUntil(std::string(254, 'y') + "\n"));
    if (geteuid() != 0)
        TARN_SKIP("another user's console", "no root to change the uid");
    std::string parent = std::filesystem::path(dir.Path()).parent_path();
    if (!ReachableAs(kOtherUid, parent))
        TARN_SKIP("another user's console", "another user cannot reach " + parent);
    EXPECT_EQ(AsOtherUser(path), "EACCES");
    // Past the file's mode, the peer's credentials still refuse.
    chmod(dir.Path().c_str(), 0711);
    chmod(path.c_str(), 0666);
    EXPECT_EQ(AsOtherUser(path), "Refused: uid " + std::to_string(kOtherUid) + " may not use this console.\n");
}

TEST(ControlSocketTest, AConsoleThatStopsReadingIsDisconnectedWhileFramesGoOn)
{
    ServerDir dir;
    std::string path = dir.File("control");
    RunningServer server(dir, {"-controlsocket", path}, KeptOpen({{"TARN_TEST_LINE_BYTES", "500"}}));
    ASSERT_TRUE(server.WaitForOutput("line 1 "));
    ControlClient stalled(path);
    EXPECT_TRUE(stalled.WaitClosedUnread(30000));
    size_t frames = Matching(dir.Log(), "frame ").size();
    EXPECT_TRUE(dir.WaitForLog("frame " + std::to_string(frames + 500) + " "));
    ControlClient next(path);
    EXPECT_TRUE(next.ReadUntil("line "));
}

// Only a socket that nobody listens on is replaced; anything else at the
// path stops the start and stays as it was.
TEST(ControlSocketTest, AStaleSocketIsReplacedAndAnythingElseAtThePathStopsTheStart)
{
    struct Case {
        const char* name;
        std::function<int(const std::string&)> put;  // returns a descriptor to close after
        bool starts;
    };
    const Case cases[] = {
        {"stale socket", [](const std::string& p) { return BindAt(p, false); }, true},
        {"live socket", [](const std::string& p) { return BindAt(p, true); }, false},
        {"regular file", [](const std::string& p) { WriteFile(p, "keep"); return -1; }, false},
        {"directory", [](const std::string& p) { return mkdir(p.c_str(), 0700) - 1; }, false},
        {"link", [](const std::string& p) { return symlink("engine_amd.so", p.c_str()) - 1; }, false},
    };
    for (const Case& c : cases) {
        ServerDir dir;
        std::string path = dir.File("control");
        int held = c.put(path);
        RunOptions options;
        options.input = "quit\n";
        RunResult result = dir.Run({"-controlsocket", path}, options);
        if (c.starts) {
            ExpectCleanEnd(result);
            EXPECT_FALSE(dir.Exists("control")) << c.name;
        } else {
            ExpectFailedStart(result);
            EXPECT_EQ(Count(result.out, "Control socket " + path + ": "), 1u) << c.name << result.out;
            EXPECT_TRUE(dir.Exists("control")) << c.name;
        }
        if (held >= 0)
            close(held);
    }
    ServerDir dir;
    RunResult result = dir.Run({"-controlsocket", dir.File(std::string(120, 'c'))});
    ExpectFailedStart(result);
    EXPECT_EQ(Count(result.out, "Control socket path too long for a socket address: "), 1u);
}

}  // namespace
