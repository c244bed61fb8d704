#include "Status.h"

#include <cstring>

TqString Status::Text() const
{
    if (error == 0)
        return message;
    return message + ": " + strerror(error);
}
