#include "text.h"

#include <stdio.h>

int parse_number(const char* text) {
    int value = 0; // hit
    while (*text >= '0' && *text <= '9')
        value = value * 10 + (*text++ - '0'); // hit
    return value;                             // hit
}

int max_of(char** texts, int count) {
    int best = parse_number(texts[0]); // miss
    for (int i = 1; i < count; ++i) {
        int value = parse_number(texts[i]); // miss
        if (value > best)
            best = value; // miss
    }
    return best; // miss
}

void print_result(const char* operation, int value) {
    printf("%s = %d\n", operation, value); // hit
}
