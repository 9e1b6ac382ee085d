// The program itself, as the session runs it: SIGTERM at logout ends it as
// "Quit" does.
#include "UiFixture.h"

#include "sync/SyncState.h"

#include <QProcess>

#include <csignal>

using testsupport::waitUntil;

class ProgramEndTest : public UiFixture {
protected:
    // The installed program, signed in with one watched folder, its
    // single-instance socket and its log in this test's home.
    void start()
    {
        storeSession(server.baseURL);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_RUNTIME_DIR", home.filePath("runtime"));
        environment.insert("XDG_STATE_HOME", home.filePath("state"));
        QDir().mkpath(home.filePath("runtime"));
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(QStringLiteral(TAVRELSYNC_PROGRAM), {});
        ASSERT_TRUE(program.waitForStarted());
    }
    void terminate()
    {
        ASSERT_EQ(::kill(pid_t(program.processId()), SIGTERM), 0);
        ASSERT_TRUE(waitUntil([&] { return program.state() == QProcess::NotRunning; }, "the program to end"));
    }

    const QString folder = storedFolder("Notes");
    QProcess program;
};

TEST_F(ProgramEndTest, SigtermDuringAPassEndsLikeQuitWithTheStateWritten)
{
    testsupport::writeFile(folder + "/a.txt", "alpha");
    // The upload waits on the server, so the signal comes mid-pass.
    server.server.injectFault(testsupport::fault({.method = "POST", .path = "/api/v1/documents", .delayMs = 3000}));
    start();
    ASSERT_TRUE(waitUntil([&] { return server.server.peakInFlight("POST", "/api/v1/documents") >= 1; },
                          "the upload in flight"));
    terminate();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << program.readAll().toStdString();
    // What the pass had agreed so far (the server folders) is on disk.
    const SyncState state = SyncState::load(home.stateFilePath());
    EXPECT_TRUE(state.serverFolderId.has_value());
    EXPECT_TRUE(state.folderMappings.contains(folder));
    EXPECT_TRUE(testsupport::readFile(home.filePath("state/TavrelSync/tavrelsync.log")).contains("ends as on Quit"));
}
