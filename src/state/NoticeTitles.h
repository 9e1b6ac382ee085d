#pragma once

#include <QString>

// The titles of the notices the sync posts, in the user's language. The
// engine gathers a pass's notices by title and the notifier picks a notice's
// buttons by it, so both make the title here.
namespace noticetitles {
QString conflictCopyMade();
QString movedToTrash();
QString fileKept();
QString filesRemoved();
} // namespace noticetitles
