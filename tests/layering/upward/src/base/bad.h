// A low folder reaching up: the layering check must refuse it.
#pragma once
#include "server/hci.h"
