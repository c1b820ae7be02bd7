// A DLL that somebody planted: the test only asks whether it can be loaded.
extern "C" __declspec(dllexport) int Planted() {
    return 1;
}
