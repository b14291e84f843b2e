#include "service/Schedule.h"
