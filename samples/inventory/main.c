// inventory: prints a stock report of a small warehouse, valued by pricing.dll.
//   inventory.exe [discount percent, 0 to 50]
// Run without arguments (as the demo does), the discount and error paths stay unexecuted.
#include <stdio.h>
#include <stdlib.h>

#include "pricing/pricing.h"

struct Item {
    const char* name;
    int quantity;
    int unit_cents;
};

static const struct Item kStock[] = {
    {"bolts M6", 1200, 15},
    {"nuts M6", 3000, 5},
    {"hinges", 0, 250},
    {"brackets", 40, 120},
};

static int needs_restock(const struct Item* item) {
    return item->quantity < 50;
}

static void print_item(const struct Item* item, int value_cents) {
    char value[32];
    format_cents(value_cents, value, sizeof(value));
    printf("  %-10s %6d  %12s\n", item->name, item->quantity, value);
    if (item->quantity == 0)
        printf("  %-10s out of stock\n", "");
}

int main(int argc, char** argv) {
    int discount = argc > 1 ? atoi(argv[1]) : 0;
    if (discount < 0 || discount > 50) {
        fprintf(stderr, "discount must be between 0 and 50\n");
        return 1;
    }

    printf("  %-10s %6s  %12s\n", "item", "qty", "value");
    int total = 0;
    int restock = 0;
    for (size_t i = 0; i < sizeof(kStock) / sizeof(kStock[0]); ++i) {
        int value = item_value(kStock[i].quantity, kStock[i].unit_cents);
        if (discount > 0)
            value = apply_discount(value, discount);
        print_item(&kStock[i], value);
        if (needs_restock(&kStock[i]))
            ++restock;
    }
    for (size_t i = 0; i < sizeof(kStock) / sizeof(kStock[0]); ++i)
        total += item_value(kStock[i].quantity, kStock[i].unit_cents);

    char text[32];
    format_cents(total, text, sizeof(text));
    printf("total value %s, %d item(s) to restock\n", text, restock);
    return 0;
}
