// The whole road of a document through the client against the development
// server: sign-in, folders, upload, status, download.
#include "ApiFixture.h"

using testsupport::readFile;
using testsupport::run;
using testsupport::writeFile;

TEST_F(ApiFixture, SignInUploadListAndDownload)
{
    APIClient fresh(*preferences);
    const LoginResponse login = run(fresh.login(testsupport::RunningServer::email,
                                                testsupport::RunningServer::password, running.baseURL));
    EXPECT_FALSE(login.token.isEmpty());
    EXPECT_EQ(fresh.token(), login.token);
    EXPECT_EQ(login.user.displayName, "Demo User");
    EXPECT_EQ(login.user.firstName, "Demo");

    const FolderResponse root = run(fresh.createFolder("Desktop Sync", std::nullopt));
    const FolderResponse child = run(fresh.createFolder("Notes", root.id));
    EXPECT_EQ(child.parentId, root.id);
    const auto listed = run(fresh.request<std::vector<FolderResponse>>("GET", "/api/v1/folders"));
    EXPECT_EQ(listed.size(), 3u); // with the fixture's "Work"

    const QString source = files.filePath("notes.txt");
    writeFile(source, "hello, server");
    const DocumentResponse uploaded = run(fresh.uploadDocument(source, "notes.txt", child.id));
    EXPECT_EQ(uploaded.name, "notes.txt");
    EXPECT_EQ(uploaded.fileSize, 13);
    EXPECT_EQ(running.server.content(uploaded.id), "hello, server");

    const SyncStatusResponse status = run(fresh.getSyncStatus(child.id, std::nullopt));
    ASSERT_EQ(status.documents.size(), 1u);
    EXPECT_EQ(status.documents[0].id, uploaded.id);
    EXPECT_EQ(status.folder.id, child.id);
    const SyncStatusResponse later = run(fresh.getSyncStatus(child.id, status.serverTime));
    EXPECT_TRUE(later.documents.empty());

    const QUrl link = run(fresh.getDownloadURL(uploaded.id));
    const QString target = files.filePath("copy.txt");
    run(fresh.downloadFile(link, target));
    EXPECT_EQ(readFile(target), "hello, server");

    const auto deleted = run(fresh.request<DeleteResponse>("DELETE", QString("/api/v1/documents/%1").arg(uploaded.id)));
    EXPECT_TRUE(deleted.deleted);
    const auto logout = run(fresh.request<LogoutResponse>("DELETE", "/api/v1/auth/logout"));
    EXPECT_FALSE(logout.message.isEmpty());
}
