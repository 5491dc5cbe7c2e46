#pragma once
// A plain look at a recording before Convert goes on: does it open, and if it does, would a plain
// conversion leave frames out (frames past the end of its block chain, a chain that broke off, a
// last block cut short, an end time never written)? The answer decides whether the dialog offers
// to recover it; the texts are what the question says.
#include <QString>

#include "recording/RecordingScan.h"

namespace zentrova::app {

struct RecordingHealth {
  bool opened = false;
  // Opened: what is damaged, in a sentence or two; empty when nothing is.
  QString damage;
  // Not opened: why not, and whether the file is there to be searched for recordings anyway.
  QString failure;
  bool searchable = false;
};

RecordingHealth CheckRecording(const QString& path);

// What the dialog shows under a chosen recording's name: its picture size (and the size it is
// converted to), frames, length and start, and a warning when it is damaged or cut; or why it
// does not open. Empty for an empty name.
struct RecordingFacts {
  QString text;
  bool damaged = false;  // or not a recording at all
};
RecordingFacts DescribeRecording(const QString& path);

// The question's text when the plain open failed and a scan of the file found `found`.
QString DescribeUnopenedButFound(const QString& path, const QString& failure, const ScanResult& found);

}  // namespace zentrova::app
