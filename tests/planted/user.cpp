// A library that needs the one beside it, as an agent library may.
extern "C" __declspec(dllimport) int PlantedValue();
extern "C" __declspec(dllexport) int UsePlanted() { return PlantedValue(); }
