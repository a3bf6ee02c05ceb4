#include "render/WavOutput.h"

#include <gtest/gtest.h>
