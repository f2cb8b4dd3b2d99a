#pragma once
// Exceptions.h: the exception classes that loading, setup and the sound output throw.
// Messages are the system's own texts (UTF-8), shown to the user as they stand.
// Threads: any. Memory: constructing one allocates (never on the render path).

#include <exception>
#include <string>
#include <utility>

namespace oggmix {

class Exception : public std::exception {
public:
    explicit Exception(std::string Message) : FMessage(std::move(Message)) {}
    const char* what() const noexcept override { return FMessage.c_str(); }
    const std::string& Message() const noexcept { return FMessage; }

private:
    std::string FMessage;
};

// A value or a resource out of range: a library that cannot be bound, data that is not
// Ogg Vorbis.
class ERangeError : public Exception {
public:
    using Exception::Exception;
};

// A file that cannot be read or written.
class EInOutError : public Exception {
public:
    using Exception::Exception;
};

}  // namespace oggmix
