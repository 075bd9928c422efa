#pragma once

#include <QString>

// The shortest decimal text that reads back as the same double; integral values carry no
// decimal point (640, 37.5, 1000.5). Non-finite values print as 0.
QString ZNFShortestNumber(double value);
