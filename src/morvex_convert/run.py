"""Where the files are converted: here, in a pool of local processes, or on a Dask cluster.

Each runner calls work (convert_one on a file, or convert_batch on a part of a dataset) on
each item and yields (item, result) pairs as items finish; the Dask one connects at once,
before the first, and raises SetupError when it cannot. A failure of the machinery itself (a
worker process that died, a lost Dask worker) becomes the item's result, an Outcome like a
failed file's.
"""

import multiprocessing
from concurrent.futures import ProcessPoolExecutor, as_completed

from morvex_convert.convert import FAILED, Outcome, convert_one, describe


class SetupError(Exception):
    """The run cannot start at all: reported in one line, exit status 2, nothing converted."""


def outcome_of(future) -> Outcome:
    try:
        return future.result()
    except Exception as error:
        return Outcome(FAILED, describe(error))


def run_here(tasks, work=convert_one):
    for task in tasks:
        yield task, work(task)


def run_processes(tasks, jobs: int, work=convert_one):
    # forkserver: workers start from a clean process, not a copy of one that may already run
    # threads (a progress bar's monitor, for one).
    context = multiprocessing.get_context("forkserver")
    with ProcessPoolExecutor(max_workers=jobs, mp_context=context) as pool:
        futures = {pool.submit(work, task): task for task in tasks}
        try:
            for future in as_completed(futures):
                yield futures[future], outcome_of(future)
        finally:
            pool.shutdown(cancel_futures=True)


def run_dask(tasks, address: str, timeout: float, work=convert_one):
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
    return on_cluster(client, tasks, work)


def on_cluster(client, tasks, work):
    from distributed import as_completed as completed

    with client:
        shipped = [task.absolute() for task in tasks]
        # pure=False: a file converted twice in one session must really be converted twice.
        futures = client.map(work, shipped, pure=False)
        task_of = {future.key: task for future, task in zip(futures, tasks)}
        try:
            for future in completed(futures):
                yield task_of[future.key], outcome_of(future)
        finally:
            client.cancel(futures)
