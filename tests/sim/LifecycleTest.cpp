// Starting and stopping the box, as a library and as the program.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <future>

#include "BoxSimulator.h"
#include "SimPort.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

TEST(Lifecycle, StopMidTransferReturnsAndHangsUp) {
    BoxSimOptions options;
    options.liveInterval = 0us;
    BoxSimulator box(options);
    ASSERT_TRUE(box.Start());
    SimPort port(box.PortPath());
    port.Write({0x79});
    ASSERT_EQ(port.Read(13).size(), 13u);
    port.Write({0x66});  // a third of a second on the wire, queued behind the stream

    auto stopped = std::async(std::launch::async, [&] { box.Stop(); });
    ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready) << "Stop hangs";
    port.ReadUntilQuiet(1s);
    EXPECT_TRUE(port.HungUp());
    EXPECT_FALSE(box.Running());
    EXPECT_TRUE(box.PortPath().empty());
    box.Stop();

    // A stopped box starts again on a fresh port.
    ASSERT_TRUE(box.Start());
    SimPort again(box.PortPath());
    EXPECT_EQ(again.Exchange({0x1E}, 9).size(), 9u);
}

TEST(Lifecycle, PortClosedByTheTool) {
    BoxSimOptions options;
    options.pacing = false;
    options.liveInterval = 2ms;
    BoxSimulator box(options);
    ASSERT_TRUE(box.Start());
    auto port = std::make_unique<SimPort>(box.PortPath());
    port->Write({0x79});
    ASSERT_EQ(port->Read(13).size(), 13u);

    // Closed right after a command, with the stream still on: the command is still
    // taken, and about 100 messages go nowhere.
    port->Write({0x29, 5});
    port.reset();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(box.Contents().runningProgram, 5);
    port = std::make_unique<SimPort>(box.PortPath());
    port->Write({0x78});
    EXPECT_LT(port->ReadUntilQuiet().size(), 10u * 13) << "no backlog from the closed time";
}

// Starts the program with its stdout on a pipe; the first line is the port's path.
TEST(Program, PrintsItsPortAndEndsOnSigterm) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char program[] = BOXSIM_PROGRAM;
    char serialFlag[] = "--serial";
    char serial[] = "20054321";
    char* argv[] = {program, serialFlag, serial, nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);

    std::string line;
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(out[0]);
    ASSERT_FALSE(line.empty());
    {
        SimPort port(line);
        ASSERT_TRUE(port.IsOpen()) << line;
        EXPECT_EQ(port.Exchange({0x1E}, 9), (Bytes{0x1E, '2', '0', '0', '5', '4', '3', '2', '1'}));
    }

    ::kill(pid, SIGTERM);
    int status = 0;
    pid_t done = 0;
    for (auto end = Clock::now() + 5s; done == 0 && Clock::now() < end;) {
        std::this_thread::sleep_for(5ms);
        done = ::waitpid(pid, &status, WNOHANG);
    }
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "the program did not end on SIGTERM";
    }
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
