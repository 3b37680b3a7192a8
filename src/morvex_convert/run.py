"""Where the files are converted: here, in a pool of local processes, or on a Dask cluster.

Each runner yields (task, outcome) pairs as files finish; the Dask one connects at once,
before the first, and raises SetupError when it cannot. A failure of the machinery itself (a
worker process that died, a lost Dask worker) becomes that file's outcome like any other.
"""

import multiprocessing
import os
from concurrent.futures import ProcessPoolExecutor, as_completed

from morvex_convert.convert import FAILED, Outcome, convert_one, describe


class SetupError(Exception):
    """The run cannot start at all: reported in one line, exit status 2, nothing converted."""


def outcome_of(future) -> Outcome:
    try:
        return future.result()
    except Exception as error:
        return Outcome(FAILED, describe(error))


def run_here(tasks):
    for task in tasks:
        yield task, convert_one(task)


def run_processes(tasks, jobs: int):
    # forkserver: workers start from a clean process, not a copy of one that may already run
    # threads (a progress bar's monitor, for one).
    context = multiprocessing.get_context("forkserver")
    with ProcessPoolExecutor(max_workers=jobs, mp_context=context) as pool:
        futures = {pool.submit(convert_one, task): task for task in tasks}
        try:
            for future in as_completed(futures):
                yield futures[future], outcome_of(future)
        finally:
            pool.shutdown(cancel_futures=True)


def run_dask(tasks, address: str, timeout: float):
    """Sends every file to the cluster's workers, which load and write it themselves: they need
    morvex installed and the same paths (a shared file system), so paths go as absolute ones."""
    try:
        from distributed import Client  # only a --dask run needs it
    except ImportError as error:
        raise SetupError(f"--dask needs the distributed package (Debian: python3-distributed): "
                         f"{error}") from None
    try:
        client = Client(address, timeout=timeout)
    except Exception as error:  # a bad address or no scheduler; distributed has no one class
        raise SetupError(f"--dask {address}: {describe(error)}") from None
    return on_cluster(client, tasks)


def on_cluster(client, tasks):
    from distributed import as_completed as completed

    with client:
        shipped = [t._replace(source=os.path.abspath(t.source), target=os.path.abspath(t.target))
                   for t in tasks]
        # pure=False: a file converted twice in one session must really be converted twice.
        futures = client.map(convert_one, shipped, pure=False)
        task_of = {future.key: task for future, task in zip(futures, tasks)}
        try:
            for future in completed(futures):
                yield task_of[future.key], outcome_of(future)
        finally:
            client.cancel(futures)
