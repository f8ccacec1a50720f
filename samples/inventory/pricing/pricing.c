#define PRICING_BUILD
#include "pricing.h"

#include <stdio.h>

int item_value(int quantity, int unit_cents) {
    if (quantity <= 0)
        return 0;
    return quantity * unit_cents;
}

int apply_discount(int cents, int percent) {
    int off = cents * percent / 100;
    return cents - off;
}

void format_cents(int cents, char* text, size_t size) {
    const char* sign = "";
    if (cents < 0) {
        sign = "-";
        cents = -cents;
    }
    snprintf(text, size, "%s%d.%02d", sign, cents / 100, cents % 100);
}

int convert_currency(int cents, int rate_per_mille) {
    long long converted = (long long)cents * rate_per_mille / 1000;
    return (int)converted;
}
