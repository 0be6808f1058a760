// The program's console lines: trace and progress lines on standard output,
// errors and warnings on standard error. Every line is written as bytes,
// ended and flushed at once, so that a scheduler capturing the output sees
// each line as it happens. All of them pass through the mask of the run's
// secrets (files/secret_mask.h) and then one sink, which tests replace to
// see what a run said.
#pragma once

#include <functional>
#include <string>
#include <string_view>

enum class MessageStream { kOut, kErr };

// Receives every line (without its line end) and the stream it is meant for.
using MessageSink = std::function<void(MessageStream stream, std::string_view line)>;

// Sends the lines to `sink` from now on; an empty sink restores the console.
// Returns the sink that was in place.
MessageSink setMessageSink(MessageSink sink);

// What every error and warning line begins with.
inline constexpr std::string_view kMessagePrefix = "kkmbridge: ";

// A trace or progress line on standard output, as it stands.
void printLine(std::string_view text);

// An error on standard error: kMessagePrefix, then `reason`, which names the
// file or request and says what went wrong.
void printError(std::string_view reason);

// A warning on standard error: kMessagePrefix, "warning: ", then `text`.
void printWarning(std::string_view text);

// A line on standard error as it stands (the usage message).
void printErrorLine(std::string_view text);

// The first error printed since the start of the process (or since
// clearFirstError), without the prefix; "" when there was none.
const std::string& firstError();
void clearFirstError();
