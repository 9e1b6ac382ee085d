#include "support/TestSupport.h"
#include "ui/SingleInstance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using testsupport::waitUntil;

TEST(SingleInstance, SecondStartHandsOverAndStaleSocketIsTakenOver)
{
    QTemporaryDir dir;
    const QString name = dir.filePath("instance.socket");

    // Nobody runs yet: no hand-over, and the first copy listens.
    SingleInstance first(name);
    EXPECT_FALSE(first.handOverToRunning(300));
    ASSERT_TRUE(first.listen());
    QSignalSpy shown(&first, &SingleInstance::showRequested);

    SingleInstance second(name);
    EXPECT_TRUE(second.handOverToRunning());
    EXPECT_TRUE(waitUntil([&] { return shown.count() == 1; }, "the first hand-over"));
    EXPECT_TRUE(SingleInstance(name).handOverToRunning());
    EXPECT_TRUE(waitUntil([&] { return shown.count() == 2; }, "the second hand-over"));
    EXPECT_FALSE(second.isListening());

    // A socket file left by a copy that died: bound, never listened on.
    const QString stale = dir.filePath("stale.socket");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, stale.toLocal8Bit().constData(), sizeof(address.sun_path));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(stale));

    SingleInstance revived(stale);
    EXPECT_FALSE(revived.handOverToRunning(300));
    ASSERT_TRUE(revived.listen());
    QSignalSpy revivedShown(&revived, &SingleInstance::showRequested);
    EXPECT_TRUE(SingleInstance(stale).handOverToRunning());
    EXPECT_TRUE(waitUntil([&] { return revivedShown.count() == 1; }, "the hand-over to the revived copy"));

    EXPECT_TRUE(SingleInstance::defaultName().contains(QString::number(getuid())));
}
