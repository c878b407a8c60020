#pragma once
// The executable's version block (placeholder until the version layer lands).
