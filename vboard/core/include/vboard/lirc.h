// The infrared receiver "/dev/lirc0": mode-2 words that come from outside.
// Every open of the device is a FIFO in DIR/lirc0.d (the descriptor the
// program gets is its read end); a feeder writes each word into every FIFO
// that has a reader when the word's pulse or space ends. Words that arrive
// while nobody has the device open are lost, as with a real receiver.
#ifndef VBOARD_LIRC_H
#define VBOARD_LIRC_H

#include <cstdint>
#include <string>
#include <vector>

#include "vboard/journal.h"

namespace vboard {

constexpr uint32_t kIrPulse = 0x01000000;
constexpr uint32_t kIrTimeout = 0x03000000; // the kernel's timeout report
constexpr uint32_t kIrValueMask = 0x00FFFFFF;
constexpr uint32_t kIrTypeMask = 0xFF000000;
// A space of all-ones duration is the receiver's mark for the end of a burst;
// the receiver reports it after this much silence.
constexpr uint32_t kIrTimeoutSpace = kIrValueMask;
constexpr uint32_t kIrReceiverTimeoutUs = 125000;
// Words a receiver buffers for a reader that does not read (the kernel's 1024).
constexpr size_t kIrBufferWords = 1024;

constexpr const char *kIrDevicePath = "/dev/lirc0";
constexpr const char *kIrChannelDir = "lirc0.d"; // in the state directory

enum class IrFormat { Detect, Text, Raw };

// Text: "pulse N", "space N", "timeout N" lines (N in microseconds, at most
// 16777215), '#' comments and blank lines; raw: 4-byte little-endian words.
// Detect takes bytes with a NUL as raw (every mode-2 word has one), else text.
// Returns 0, or -1 with *error naming the line.
int parse_ir_capture(const std::string &bytes, IrFormat format, std::vector<uint32_t> *words, std::string *error);

// How long the receiver takes to report the word, in microseconds.
uint32_t ir_word_time_us(uint32_t word);

// Microseconds from the start of the capture at which each word is reported,
// with time compressed by speed (> 0).
std::vector<uint64_t> ir_schedule(const std::vector<uint32_t> &words, double speed);

struct IrFeedResult {
    size_t words = 0;
    size_t dropped = 0; // words that no open receiver took
};

// Feeds words to the receivers open on the board of dir, each at its time;
// returns when the last one is delivered. The caller ignores SIGPIPE.
// Journals "feed lirc0 words N dropped D".
IrFeedResult ir_feed(const std::string &dir, const std::vector<uint32_t> &words, double speed, Journal *journal);

} // namespace vboard

#endif
