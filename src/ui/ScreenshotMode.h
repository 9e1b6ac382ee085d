#pragma once

#include <QString>

// A hidden mode for documentation: drives the real application through its
// faces against a running development server and saves each window as a
// PNG in outputDir. Run under a throw-away home (it signs in and adds
// folders). Returns the process exit code.
int runScreenshotMode(const QString &outputDir, const QString &serverURL);
