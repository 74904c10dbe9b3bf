#include "ui/product_name.h"

#include <cctype>

std::string GetProductName() {
    std::string secondWord = "vel";
    secondWord[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(secondWord[0])));
    return "Quor" + secondWord;
}
