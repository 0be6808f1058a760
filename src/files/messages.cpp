#include "files/messages.h"

#include <cstdio>

namespace {

MessageSink& sink() {
  static MessageSink current;
  return current;
}

std::string& firstErrorText() {
  static std::string text;
  return text;
}

void writeLine(MessageStream stream, std::string_view text) {
  if (sink()) {
    sink()(stream, text);
    return;
  }
  std::FILE* out = stream == MessageStream::kOut ? stdout : stderr;
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), out);
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
  if (firstErrorText().empty()) firstErrorText() = std::string(reason);
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
