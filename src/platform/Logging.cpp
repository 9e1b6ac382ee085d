#include "platform/Logging.h"

Q_LOGGING_CATEGORY(lcAPIClient, "com.tavrel.TavrelSync.APIClient", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAppState, "com.tavrel.TavrelSync.AppState", QtInfoMsg)
Q_LOGGING_CATEGORY(lcFileWatcher, "com.tavrel.TavrelSync.FileWatcher", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSyncEngine, "com.tavrel.TavrelSync.SyncEngine", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSyncState, "com.tavrel.TavrelSync.SyncState", QtInfoMsg)
Q_LOGGING_CATEGORY(lcApp, "com.tavrel.TavrelSync.App", QtInfoMsg)
