#include "bg_motion.h"
