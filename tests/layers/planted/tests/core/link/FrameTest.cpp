// A core test that includes Qt and a helper that does not exist.
#include "support/Missing.h"

#include <QByteArray>
