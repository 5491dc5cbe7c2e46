// Recognises a recording by its header as the reader checks it: "ZR" alone is not enough, so a
// text file that happens to start with those letters is not taken for one.
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "gst/Elements.h"
#include "recording/FrameRecord.h"
#include "recording/ZrReader.h"

namespace zentrova::gst {
namespace {

// Enough for the fixed header, the longest texts and the first block header.
constexpr guint kPeekSizes[] = {4096, 2048, 1024, 512, 256, 128, 64, 36};

// The reader's own open decides, on the first bytes put in a file of memory: a block chain that
// leads past them ends there, as it would at the end of a file.
bool ReaderAccepts(const guint8* bytes, guint size) {
  const int fd = memfd_create("zr-typefind", MFD_CLOEXEC);
  if (fd < 0) return false;
  bool accepted = false;
  if (write(fd, bytes, size) == static_cast<ssize_t>(size)) {
    ZrReader reader;
    RecordingInfo info;
    accepted = reader.open("/proc/self/fd/" + std::to_string(fd), &info).ok();
    reader.close();
  }
  close(fd);
  return accepted;
}

void FindRecording(GstTypeFind* find, gpointer) {
  const guint8* magic = gst_type_find_peek(find, 0, 2);
  if (!magic || magic[0] != 'Z' || magic[1] != 'R') return;
  const guint64 length = gst_type_find_get_length(find);
  for (guint size : kPeekSizes) {
    if (length > 0 && size > length && size != kPeekSizes[0]) continue;
    const guint want = length > 0 && length < size ? static_cast<guint>(length) : size;
    const guint8* bytes = gst_type_find_peek(find, 0, want);
    if (!bytes) continue;
    if (ReaderAccepts(bytes, want)) gst_type_find_suggest_empty_simple(find, GST_TYPE_FIND_MAXIMUM, kRecordingCaps);
    return;
  }
}

}  // namespace

gboolean RegisterTypeFinder(GstPlugin* plugin) {
  GstCaps* caps = gst_caps_new_empty_simple(kRecordingCaps);
  const gboolean ok = gst_type_find_register(plugin, "zentrova_zr", GST_RANK_PRIMARY, FindRecording, "zr,zrx", caps,
                                             nullptr, nullptr);
  gst_caps_unref(caps);
  return ok;
}

}  // namespace zentrova::gst
