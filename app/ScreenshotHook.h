#pragma once

namespace cb {

class CellarbrightApp;

// A test hook for the screenshot script (scripts/screenshot.sh) and smoke checks; it does
// nothing unless its environment variables are set, and the program reads them nowhere else.
//
//   CELLARBRIGHT_TEST_SCREENSHOT=<file.png>  once the window has settled, save a picture of it
//       to that file, print one line "window <width>x<height>, top-level windows <n>, icon
//       <set|none>" to standard output, and quit with status 0 (status 1 when the file cannot be
//       written or nothing settled within 120 s).
//   CELLARBRIGHT_TEST_SCAN=<folder>          with the above: scan that folder at launch (as the
//       folder picker would, without its panel or the Full Disk Access prompt); the window has
//       settled once the disk map shows. Without it the window has settled once the welcome screen
//       shows.
//   CELLARBRIGHT_TEST_REFRESH=1              with a scan: refresh the map once it shows (as the
//       toolbar's refresh button would); the window has settled once the refreshed map shows.
//
// REQUIRES: called before app.run().
void installScreenshotHook(CellarbrightApp& app);

}  // namespace cb
