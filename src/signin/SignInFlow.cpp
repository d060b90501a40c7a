#include "signin/SignInFlow.h"
