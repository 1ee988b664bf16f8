/*
 * The handler of "qorvel_go": parameters, then gathering, then evaluation,
 * each stopping the command at its first fault.
 */
#include "wave/wave.h"

int apply_wave_command(int count, char *vector[])
{
    WaveParams params;
    if (!parse_wave_params(count, vector, &params))
        return 0; /* the message says which parameter is wrong */
    HostList *vertices = gather_wave_vertices();
    if (!vertices)
        return 0; /* the message says that nothing is selected */
    apply_wave(&params, vertices);
    return 0; /* the list now belongs to the undo step */
}
