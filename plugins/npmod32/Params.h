// The parameter text given to ModPlug_CreateEx: "name|value|name|value...".
#pragma once

namespace npmod32 {

struct Params {
  int volume = 100;  // percent, 0..100
  bool loop = false;
  bool autostart = false;
};

// Unknown names, names without a value and values that do not parse leave the default.
Params parseParams(const char* text);

}  // namespace npmod32
