#pragma once
// The batch form's search: the recordings named on the command line and those found in the
// folders named there, each with its output name under OUTDIR.
#include <atomic>
#include <string>
#include <vector>

namespace zentrova::cli {

struct BatchItem {
  std::string input;    // the recording's path as found
  std::string output;   // OUTDIR/<relative path>/<name><extension>; empty when broken
  std::string failure;  // why the item cannot be converted (a link loop, not a regular file, ...)
};

struct BatchScan {
  std::vector<BatchItem> items;   // in a fixed order: the inputs as given, folders sorted by name
  std::vector<std::string> notes;  // what was passed over and why, for -v
  bool cancelled = false;          // the search stopped at the cancel flag: the items are not all
};

// True for names ending in .zr or .zrx, in any case.
bool IsRecordingName(const std::string& name);

// Searches `inputs`. Folders are searched recursively for recordings; links to folders are
// followed once, a link that leads back to a folder being searched is a broken item. The folder
// `outDir` (which must exist) is never searched. Two recordings that would get the same output
// name: the second is a broken item. The search stops soon after `cancel` is set.
BatchScan ScanInputs(const std::vector<std::string>& inputs, const std::string& outDir, const std::string& extension,
                     const std::atomic<bool>* cancel = nullptr);

}  // namespace zentrova::cli
