// The editor interface the effect base drives through the editor opcodes.
// An effect that has an editor window derives from AEffEditor and stores the
// object in AudioEffect::editor, which then owns it and deletes it on
// destruction. Without an editor every editor opcode answers 0.
#pragma once

#include "AEffect.h"

// Window rectangle handed to the host by effEditGetRect.
struct ERect
{
    std::int16_t top;
    std::int16_t left;
    std::int16_t bottom;
    std::int16_t right;
};

// A key stroke forwarded by effEditKeyDown / effEditKeyUp.
struct VstKeyCode
{
    VstInt32 character;
    unsigned char virt;
    unsigned char modifier;
};

class AEffEditor
{
public:
    virtual ~AEffEditor() = default;

    // Stores the address of the editor's rectangle in *rect; answers true on success.
    virtual bool getRect(ERect** rect) = 0;
    // Opens the editor inside the host's parent window.
    virtual bool open(void* parentWindow) = 0;
    virtual void close() = 0;
    virtual void idle() {}
    // Answer true when the editor consumed the key.
    virtual bool onKeyDown(VstKeyCode& keyCode)
    {
        (void)keyCode;
        return false;
    }
    virtual bool onKeyUp(VstKeyCode& keyCode)
    {
        (void)keyCode;
        return false;
    }
    virtual bool setKnobMode(VstInt32 mode)
    {
        (void)mode;
        return false;
    }
};
