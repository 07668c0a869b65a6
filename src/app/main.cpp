#include "app/Application.h"

int main(int argc, char** argv)
{
    return vok::runApplication(argc, argv);
}
