// The general exception type: it carries the message the user sees.
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const std::string& Message() const noexcept { return FMessage; }
  void SetMessage(std::string message) { FMessage = std::move(message); }
  // The class name as error texts report it ("Exception", "EStringListError", ...).
  virtual const char* ClassName() const noexcept { return "Exception"; }
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
};

// Raised by string lists for an index out of range.
class EStringListError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EStringListError"; }
};

// File layer errors: a file that cannot be opened, created or written.
class EFOpenError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EFOpenError"; }
};

class EFCreateError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EFCreateError"; }
};

class EWriteError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EWriteError"; }
};

// Raised when a text does not convert to a number.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EConvertError"; }
};
