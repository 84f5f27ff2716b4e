// The real tulkad under the virtual board, spoken to over its socket with
// exact bytes.
#include "board_tulkad.h"
#include "lircd_client.h"
#include "socket_client.h"
#include "vboard/testkit.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <thread>
#include <regex>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace tulka_test;
using namespace std::chrono_literals;
using tulka::frame;

const message cancel_reply = {8, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0};
const message cancel_request = {4, 0, 0, 0, 2, 0, 0, 0};
constexpr auto answer_limit = 3s;

std::string stamped(const std::string &text) { return "[ 0-9]{10} " + text + "\n"; }

std::string escaped(const std::string &text)
{
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

std::string usage_pattern()
{
    return "Tulka Server 2\\.7-rc2\n"
           "Build Date [A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\n"
           "usage: " +
           escaped(board_tulkad::tulkad_path()) +
           " \\[OPTION\\]\\.\\.\\.\n"
           "  -h             Show this message\\.\n"
           "  -r MS          Key event repeat in milliseconds\\. Default: 300\n"
           "  -c DIR         lircd remote config dir\\. Default: /etc/lirc/learned\\.d/\n"
           "  -s MS          Sample milliseconds for learn\\. Default: 3000\n"
           "\n";
}

const char *const lircd_socket = "/run/lirc/lircd";
const char *const flood_remote = "flood";

const std::string copy_line = stamped(escaped("exec_sync: cp /mnt/ubi_boot/*.conf /etc/lirc/lircd.conf.d"));

bool matches(const std::string &text, const std::string &pattern)
{
    return std::regex_match(text, std::regex(pattern));
}

// The output without the lines of lircd's control and connection, which
// the lircd tests look at; here they would only hide what is checked.
std::string without_lircd(const std::string &text)
{
    static const std::regex lircd_line("(" + stamped("exec_sync: (killall lircd|mkdir -p /var/run/lirc|lircd .*)") +
                                       "|" + stamped("connected to lircd") + "|lircd: no process found\n)");
    return std::regex_replace(text, lircd_line, "");
}

// A board whose boot partition holds two remote configurations.
class Tulkad : public ::testing::Test {
protected:
    void SetUp() override
    {
        const run_result setup = board.shell(
            board_tulkad::lircd_setup() +
            " && mkdir -p /mnt/ubi_boot && "
            "echo one > /mnt/ubi_boot/one.conf && echo two > /mnt/ubi_boot/two.conf && "
            "echo skip > /mnt/ubi_boot/notes.txt");
        ASSERT_EQ(setup.status, 0) << setup.err;
    }

    void expect_boot_copy_done()
    {
        const run_result listing = board.shell("ls /etc/lirc/lircd.conf.d && cat /etc/lirc/lircd.conf.d/two.conf");
        EXPECT_EQ(listing.out, "one.conf\ntwo.conf\ntwo\n");
    }

    // A cancel answered next proves that nothing was sent before it.
    void expect_only_cancel_reply(int fd)
    {
        ASSERT_EQ(write_all(fd, cancel_request), 0);
        EXPECT_EQ(read_up_to(fd, cancel_reply.size(), answer_limit), cancel_reply);
    }

    board_tulkad board;
};

TEST_F(Tulkad, HelpCopiesBootConfigsPrintsUsageAndExits)
{
    const run_result r = board.run({"-r", "5", "-h"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(matches(r.out, copy_line + usage_pattern())) << r.out;
    EXPECT_EQ(r.err, "");
    expect_boot_copy_done();
}

TEST_F(Tulkad, OptionErrorsEndWithStatusZeroAfterTheCopy)
{
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"-s"}, "exception: -s expects parameter"},
        {{"-r", "5", "-c"}, "exception: -c expects parameter"},
        {{"-r", "1x"}, "exception: bad lexical cast: source type value could not be interpreted as target"},
        {{"-s", "4294967296"}, "exception: bad lexical cast: source type value could not be interpreted as target"},
    };
    for (const auto &c : cases) {
        const run_result r = board.run(c.args);
        EXPECT_EQ(r.status, 0) << c.error;
        EXPECT_TRUE(matches(r.out, copy_line + usage_pattern() + stamped("exiting"))) << r.out;
        EXPECT_TRUE(matches(r.err, stamped(escaped(c.error)))) << r.err;
    }
    expect_boot_copy_done();
}

TEST_F(Tulkad, RunsUntilSignalledAndExitsCleanly)
{
    for (int signal_number : {SIGTERM, SIGINT, SIGQUIT}) {
        board.start({"-c", "/data/ir", "-r", "100", "-s", "500"});
        // One answered request: the daemon is in its event loop.
        const int fd = board.connect_client();
        expect_only_cancel_reply(fd);
        close(fd);
        ASSERT_TRUE(board.wait_out("socket client disconnected\\n", answer_limit));
        const run_result r = board.stop(signal_number);
        EXPECT_EQ(r.status, 0) << signal_number;
        EXPECT_TRUE(matches(without_lircd(r.out), copy_line + usage_pattern() +
                                                      "socket client connected\\nsocket client disconnected\\n" +
                                                      stamped("exiting")))
            << r.out;
        EXPECT_TRUE(
            matches(without_lircd(r.err), "read fail\\n" + stamped("caught signal " + std::to_string(signal_number))))
            << r.err;
    }
}

TEST_F(Tulkad, SocketThatCannotBeBoundEndsTheStart)
{
    // A directory in the socket's place is neither removed nor bindable.
    const run_result r = board.run({}, "mkdir -p /tmp/tulka_socket/x");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(matches(without_lircd(r.err), stamped("exception: bind: .*"))) << r.err;
    EXPECT_TRUE(matches(without_lircd(r.out), copy_line + usage_pattern() + stamped("exiting"))) << r.out;
}

// The daemon started with defaults and one client connected.
class TulkadServing : public Tulkad {
protected:
    void SetUp() override
    {
        Tulkad::SetUp();
        board.start();
        client = board.connect_client();
        ASSERT_GE(client, 0);
    }

    void TearDown() override
    {
        if (client >= 0)
            close(client);
        const run_result r = board.stop(SIGTERM);
        EXPECT_EQ(r.status, 0);
    }

    // The release that lircd's broadcast of an unknown button becomes.
    static message flood_event() { return tulka::pack_key_event(0, tulka::KEY_VALUE_RELEASE, flood_remote); }

    // Makes tulkad queue `count` key events for its client, from simulated
    // presses of an unknown button (no repeats follow those), and waits
    // until tulkad has taken all of them. tulkad must have connected to
    // lircd `connections` times: after a learn it reconnects to the lircd it
    // restarted, and broadcasts sent before that are lost.
    void flood_key_events(size_t count, size_t connections = 1)
    {
        ASSERT_TRUE(
            await_for([&] { return occurrences(board.out(), "connected to lircd\n") >= connections; }, answer_limit));
        tulka::test::lircd_client lircd(board.host_path(lircd_socket));
        ASSERT_TRUE(lircd.connected());
        std::string lines;
        for (size_t i = 0; i < count; ++i)
            lines += std::string("SIMULATE 0000000000000000 00 FOO ") + flood_remote + "\n";
        // lircd answers every command; its answers are read meanwhile.
        std::thread answers([&] {
            for (size_t i = 0; i < count && lircd.next_packet(answer_limit); ++i) {
            }
        });
        const bool sent = lircd.send(lines);
        answers.join();
        ASSERT_TRUE(sent);
        const std::string taken = "key: 0 value: release remote name: " + std::string(flood_remote) + "\n";
        ASSERT_TRUE(await_for([&] { return occurrences(board.out(), taken) == count; }, answer_limit))
            << occurrences(board.out(), taken);
    }

    // Waits until `count` clients have gone (counted, as the output is large).
    bool await_disconnects(size_t count)
    {
        return await_for([&] { return occurrences(board.out(), "socket client disconnected\n") >= count; },
                         answer_limit);
    }

    int client = -1;
};

TEST_F(TulkadServing, CancelIsAnsweredWithTheTwelveBytes)
{
    expect_only_cancel_reply(client);
    expect_only_cancel_reply(client);
    EXPECT_TRUE(read_up_to(client, 1, 50ms).empty());
    EXPECT_TRUE(matches(without_lircd(board.out()), copy_line + usage_pattern() + "socket client connected\n"))
        << board.out();
}

TEST_F(TulkadServing, LearnRequestsAreCheckedAgainstTheKeyTable)
{
    ASSERT_EQ(write_all(client, frame(tulka::pack_learn_start(84))), 0);
    ASSERT_EQ(write_all(client, frame(tulka::pack_learn_start(248))), 0);
    ASSERT_EQ(write_all(client, frame(tulka::pack_learn_start(0))), 0);
    expect_only_cancel_reply(client);
    EXPECT_TRUE(matches(without_lircd(board.err()),
                        stamped("invalid key requested: 84") + stamped("invalid key requested: 248")))
        << board.err();
    EXPECT_TRUE(std::regex_search(board.out(), std::regex(stamped("start learn for key KEY_RESERVED")))) << board.out();
}

TEST_F(TulkadServing, MalformedRequestsKeepTheConnection)
{
    const message requests[] = {
        {0, 0, 0, 0},                                      // length 0
        {4, 0, 0, 0, 1, 0, 0, 0},                          // learn without its key code
        {3, 0, 0, 0, 1, 0, 0},                             // not even a whole type
        {4, 0, 0, 0, 9, 0, 0, 0},                          // unknown type
        {4, 0, 0, 0, 5, 0, 0, 0},                          // clear: no answer
        {12, 0, 0, 0, 2, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}, // cancel with extra bytes
    };
    for (const message &bytes : requests)
        ASSERT_EQ(write_all(client, bytes), 0);
    EXPECT_EQ(read_up_to(client, cancel_reply.size(), answer_limit), cancel_reply);
    expect_only_cancel_reply(client);
    const std::string not_enough = stamped("exception: Not enough data in message to read");
    EXPECT_TRUE(matches(without_lircd(board.err()),
                        not_enough + not_enough + not_enough + stamped("error: unknown tulka msg 9")))
        << board.err();
}

TEST_F(TulkadServing, HugeLengthDropsOnlyThatConnection)
{
    ASSERT_EQ(write_all(client, {0xff, 0xff, 0xff, 0xff, 2, 0, 0, 0}), 0);
    EXPECT_TRUE(closed_by_peer(client, answer_limit));
    EXPECT_TRUE(board.wait_out("socket client disconnected\\n", answer_limit));
    close(client);
    client = board.connect_client();
    expect_only_cancel_reply(client);
    EXPECT_TRUE(
        matches(without_lircd(board.err()), stamped("error: message length 4294967295 exceeds the limit of 65536")))
        << board.err();
    EXPECT_TRUE(std::regex_search(board.out(), std::regex("socket client disconnected\nsocket client connected\n")));
}

TEST_F(TulkadServing, ClientsComeAndGoOneAtATime)
{
    // Leaves in the middle of a message.
    ASSERT_EQ(write_all(client, {8, 0, 0, 0, 1, 0}), 0);
    close(client);
    client = board.connect_client();
    ASSERT_GE(client, 0);
    expect_only_cancel_reply(client);
    // A second client waits in the backlog until the first is gone.
    const int second = board.connect_client();
    ASSERT_GE(second, 0);
    ASSERT_EQ(write_all(second, cancel_request), 0);
    EXPECT_TRUE(read_up_to(second, 1, 100ms).empty());
    expect_only_cancel_reply(client);
    close(client);
    client = second;
    EXPECT_EQ(read_up_to(client, cancel_reply.size(), answer_limit), cancel_reply);
    const std::string out = without_lircd(board.out());
    EXPECT_TRUE(std::regex_search(out, std::regex("socket client connected\nsocket client disconnected\n"
                                                  "socket client connected\nsocket client disconnected\n"
                                                  "socket client connected\n$")))
        << out;
    EXPECT_EQ(std::regex_replace(without_lircd(board.err()), std::regex("\n"), "|"), "read fail|read fail|");
}

TEST_F(TulkadServing, RepliesQueuedForAClientThatDoesNotReadGoWholeToTheNext)
{
    // Far more key events than a socket buffers: the daemon must queue them.
    constexpr size_t events = 3000;
    flood_key_events(events);
    shutdown(client, SHUT_WR);
    ASSERT_TRUE(board.wait_out("socket client disconnected\n", answer_limit)) << board.err();

    const message event = tulka::frame(flood_event());
    const message first = read_up_to(client, events * event.size(), answer_limit);
    const size_t whole = first.size() / event.size();
    ASSERT_LT(whole, events);
    for (size_t at = 0; at < first.size(); ++at)
        ASSERT_EQ(first[at], event[at % event.size()]) << at;

    const int next = board.connect_client();
    ASSERT_GE(next, 0);
    ASSERT_EQ(write_all(next, cancel_request), 0);
    const size_t rest = (events - whole) * event.size();
    const message second = read_up_to(next, rest + cancel_reply.size(), answer_limit);
    ASSERT_EQ(second.size(), rest + cancel_reply.size());
    for (size_t at = 0; at < rest; ++at)
        ASSERT_EQ(second[at], event[at % event.size()]) << at;
    EXPECT_EQ(message(second.begin() + static_cast<long>(rest), second.end()), cancel_reply);
    EXPECT_TRUE(read_up_to(next, 1, 50ms).empty());
    close(next);
}

TEST_F(TulkadServing, IdlesWithoutUsingTheProcessor)
{
    expect_only_cancel_reply(client);
    const long long before = board.cpu_ticks();
    EXPECT_TRUE(read_up_to(client, 1, 1s).empty());
    // The kernel charges whole ticks, so an idle second may still show one or two;
    // a daemon that polls or spins shows tens.
    EXPECT_LE(board.cpu_ticks() - before, 2) << "processor ticks while idle";
}

run_result tulkactl(const std::vector<std::string> &args)
{
    std::vector<std::string> argv = {board_tulkad::tulkactl_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    return host_program(argv).wait(5s);
}

TEST_F(Tulkad, TulkactlSaysWhenTulkadIsNotRunning)
{
    const std::string socket = "/nonexistent/tulka_socket";
    const run_result r = tulkactl({"-S", socket, "cancel"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "tulkactl: cannot connect to " + socket + ": No such file or directory (is tulkad running?)\n");
    const run_result bad_key = tulkactl({"-S", socket, "learn", "84"});
    EXPECT_EQ(bad_key.status, 2);
    EXPECT_EQ(bad_key.err, "tulkactl: unknown key 84 (a KEY_ name or code of the key table)\n");
    // 116 + 2^32 is no code of the table, whatever the width of long.
    EXPECT_EQ(tulkactl({"-S", socket, "learn", "4294967412"}).status, 2);
    EXPECT_EQ(tulkactl({"frobnicate"}).status, 2);
    const run_result help = tulkactl({"-h"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: tulkactl", 0), 0u) << help.out;
}

TEST_F(TulkadServing, TulkactlClearReturnsOnceTulkadTookTheRequest)
{
    const std::string learned = "/etc/lirc/learned.d/KEY_POWER.conf";
    ASSERT_EQ(board.exec({"sh", "-c", "mkdir -p /etc/lirc/learned.d && touch " + learned}).status, 0);
    const std::string socket = board.host_path("/tmp/tulka_socket");
    // tulkad is busy with this fixture's client: the request cannot be taken.
    EXPECT_EQ(tulkactl({"-S", socket, "-t", "1", "clear"}).status, 3);
    close(client);
    client = -1;
    ASSERT_EQ(tulkactl({"-S", socket, "clear"}).status, 0);
    struct stat info {};
    EXPECT_NE(::stat(board.host_path(learned).c_str(), &info), 0);
}

TEST_F(TulkadServing, TulkactlCancelsLearnsAndWatches)
{
    close(client);
    client = -1;
    // On the board, with the default socket path.
    const run_result cancel = board.exec({board_tulkad::tulkactl_path(), "cancel"});
    EXPECT_EQ(cancel.status, 0) << cancel.err;
    EXPECT_EQ(cancel.out, "learn complete 0\n");

    // No capture happens yet, so the learn runs out of time and is cancelled.
    const run_result learn = board.exec({board_tulkad::tulkactl_path(), "-t", "1", "learn", "KEY_POWER"});
    EXPECT_EQ(learn.status, 3);
    EXPECT_EQ(learn.out, "learn complete 0\n");
    EXPECT_EQ(learn.err, "tulkactl: learn timed out, cancelled\n");
    EXPECT_TRUE(std::regex_search(board.out(), std::regex(stamped("start learn for key KEY_POWER"))));

    // From the host through the board's root, while another client leaves
    // key events queued.
    const std::string socket = board.host_path("/tmp/tulka_socket");
    ASSERT_TRUE(await_disconnects(3));
    client = board.connect_client();
    constexpr size_t events = 3000;
    flood_key_events(events, 2);
    shutdown(client, SHUT_WR);
    ASSERT_TRUE(await_disconnects(4));
    host_program watch({board_tulkad::tulkactl_path(), "-S", socket, "watch"});
    const std::string line = std::string("key 0 KEY_RESERVED release ") + flood_remote + "\n";
    ASSERT_TRUE(await_for([&] { return occurrences(watch.out(), line) > 0; }, answer_limit));
    const run_result watched = watch.stop(SIGINT, answer_limit);
    EXPECT_EQ(watched.status, -1); // ends by the signal
    EXPECT_EQ(occurrences(watched.out, line) * line.size(), watched.out.size()) << watched.out.substr(0, 200);
}

} // namespace
