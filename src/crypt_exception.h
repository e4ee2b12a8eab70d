#pragma once

#include <exception>
#include <string>

// The one exception of the updater: thrown by the crypto wrapper with the
// failing operation and LibTomCrypt's text for the error, and caught by its
// callers (the signature check and the update engine's start-up).
class crypt_exception : public std::exception
{
public:
    explicit crypt_exception(std::string message) : m_Message(std::move(message)) {}

    const char *what() const noexcept override { return m_Message.c_str(); }

private:
    std::string m_Message;
};
