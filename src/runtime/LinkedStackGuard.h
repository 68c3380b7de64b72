/* The value that the platform's compilers link the stack protector's guard with, which the loaders
   recognise and replace by a random one at every load. */
#pragma once

#if defined(_WIN64)
#define KIV_LINKED_STACK_GUARD 0x00002B992DDFA232ull
#else
#define KIV_LINKED_STACK_GUARD 0xBB40E64Eu
#endif
