// What the program's message sink received while the object lived: the
// lines meant for standard output and for standard error, each with its
// line end, as the console would have shown them.
#pragma once

#include <string>

#include "files/messages.h"

class CapturedMessages {
 public:
  CapturedMessages()
      : previous_(setMessageSink([this](MessageStream stream, std::string_view line) {
          std::string& to = stream == MessageStream::kOut ? out_ : err_;
          to.append(line).append("\n");
        })) {}
  ~CapturedMessages() { setMessageSink(std::move(previous_)); }
  CapturedMessages(const CapturedMessages&) = delete;
  CapturedMessages& operator=(const CapturedMessages&) = delete;

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  std::string out_, err_;
  MessageSink previous_;
};
