#pragma once
// A link header that reaches up into ops and out into Qt: both must be found.
#include "core/ops/Catalogue.h"

#include <QByteArray>
