// Window input in the renderer's Event records.
#pragma once

#include <vector>

#include "platform/Display.hh"
#include "renderer/Event.hh"

// The Event records for one input event: one for pointer and key events,
// a press and a release per wheel axis that moved (vertical first), none
// for a wheel event that moved neither axis.
std::vector<Event> translateInput(const platform::InputEvent& in);
