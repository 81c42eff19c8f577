// The error types of the command-line host: a message for the user, already
// phrased as one line (main prints it after "orvex: ").
#pragma once

#include <stdexcept>
#include <string>

class HostError : public std::runtime_error
{
public:
    explicit HostError(const std::string& message) : std::runtime_error(message) {}
};

// An input that does not hold what its header declares (a copy cut short,
// say): refused, with an exit status of its own.
class DamagedInputError : public HostError
{
public:
    DamagedInputError(const std::string& path, const std::string& damage,
                      const std::string& outcome = "not rendered (--allow-truncated renders what is there)")
        : HostError(path + " is damaged: " + damage + "; " + outcome), damageText(damage)
    {
    }

    // What the header declares and what the file holds.
    const std::string& damage() const { return damageText; }

private:
    std::string damageText;
};
