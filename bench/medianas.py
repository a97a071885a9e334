"""Timing shared by the Python benchmarks: cases run interleaved, so that a change in the load of
this shared machine falls on all of them alike, and the median of each kept."""
import statistics
import time


def medianas(casos, repeticiones=15):
    tiempos = {k: [] for k in casos}
    for _ in range(repeticiones):
        for k, f in casos.items():
            t0 = time.perf_counter()
            f()
            tiempos[k].append(time.perf_counter() - t0)
    return {k: statistics.median(v) for k, v in tiempos.items()}
