#include "files/messages.h"

#include <cstdio>

#include "files/secret_mask.h"

namespace {

MessageSink& sink() {
  static MessageSink current;
  return current;
}

std::string& firstErrorText() {
  static std::string text;
  return text;
}

// Every line passes the one mask of the run's secrets on its way out.
void writeLine(MessageStream stream, std::string_view text) {
  if (sink()) {
    if (containsSecret(text))
      sink()(stream, maskSecrets(text));
    else
      sink()(stream, text);
    return;
  }
  std::FILE* out = stream == MessageStream::kOut ? stdout : stderr;
  writeMasked(out, text);
  std::fputc('\n', out);
  std::fflush(out);
}

}  // namespace

MessageSink setMessageSink(MessageSink replacement) {
  MessageSink previous = std::move(sink());
  sink() = std::move(replacement);
  return previous;
}

void printLine(std::string_view text) { writeLine(MessageStream::kOut, text); }

void printErrorLine(std::string_view text) { writeLine(MessageStream::kErr, text); }

void printError(std::string_view reason) {
  if (firstErrorText().empty()) firstErrorText() = maskSecrets(reason);
  std::string line(kMessagePrefix);
  line += reason;
  writeLine(MessageStream::kErr, line);
}

void printWarning(std::string_view text) {
  std::string line(kMessagePrefix);
  line += "warning: ";
  line += text;
  writeLine(MessageStream::kErr, line);
}

const std::string& firstError() { return firstErrorText(); }

void clearFirstError() { firstErrorText().clear(); }
