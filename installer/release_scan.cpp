#include "release_scan.h"
