// The run-time error the program raises with a number, a description and a source, and the
// one way it is shown to people.
#pragma once

#include <stdexcept>
#include <string>

namespace quilo {

class RuntimeError : public std::runtime_error {
  public:
    RuntimeError(long number, std::string description, std::string source)
        : std::runtime_error(description),
          number_(number),
          description_(std::move(description)),
          source_(std::move(source)) {}
    long number() const { return number_; }
    const std::string& description() const { return description_; }
    const std::string& source() const { return source_; }

  private:
    long number_;
    std::string description_;
    std::string source_;
};

// "Error: <number>\r\n<description>\r\n\r\n(Source:<source>)\r\nIn: <where>()"
std::string formatError(const RuntimeError& e, const std::string& where);

// The numbers given to failures that are not our own numbered errors.
inline constexpr long kErrOutOfMemory = 7;  // "Out of memory"
inline constexpr long kErrInternal = 51;    // any other exception: an internal error

// The exception being handled, as the program numbers it: a RuntimeError as it is, running out
// of memory as kErrOutOfMemory, any other exception as kErrInternal with its own text, all with
// `source` where the exception has none. Call it only inside a catch block.
RuntimeError currentError(const std::string& source);

}  // namespace quilo
