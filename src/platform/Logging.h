#pragma once

#include <QLoggingCategory>

// One category per component, named after the application's identifier and
// the component. Progress is logged with qCInfo, failures with qCCritical.
Q_DECLARE_LOGGING_CATEGORY(lcAPIClient)
Q_DECLARE_LOGGING_CATEGORY(lcAppState)
Q_DECLARE_LOGGING_CATEGORY(lcFileWatcher)
Q_DECLARE_LOGGING_CATEGORY(lcSyncEngine)
Q_DECLARE_LOGGING_CATEGORY(lcSyncState)
Q_DECLARE_LOGGING_CATEGORY(lcApp)

inline constexpr const char *kAppIdentifier = "com.tavrel.TavrelSync";
