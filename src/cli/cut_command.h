#pragma once
// `torvix-cli cut RECORD`: the records between two times or marks, with their events, written
// as the recording was or for a Russian Excel; the same section the window's "Сохранить участок"
// writes.

namespace torvix::cli {

// Runs before any QCoreApplication exists, as `analyze` does.
int cutMain(int argc, char* argv[]);

}  // namespace torvix::cli
