// URI text utilities (first landing: interface only).
#include "liaison.h"

int hex2dec(char /*c*/)
{
    return -1;
}

char dec2hex(short /*value*/)
{
    return static_cast<char>(0xFF);
}

void urlencode(char * /*text*/) {}

void urldecode(char * /*text*/) {}
