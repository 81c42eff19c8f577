// The one error type of the command-line host: a message for the user, already
// phrased as one line (main prints it after "orvex: ").
#pragma once

#include <stdexcept>
#include <string>

class HostError : public std::runtime_error
{
public:
    explicit HostError(const std::string& message) : std::runtime_error(message) {}
};
