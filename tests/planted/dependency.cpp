// A library that a planted copy could stand in for: found only where it was put.
extern "C" __declspec(dllexport) int PlantedValue() { return 7; }
