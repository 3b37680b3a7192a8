"""Where the files are converted: here, in a pool of local processes, or on a Dask cluster.

Each runner calls work (convert_one on a file, or convert_batch on a part of a dataset) on
each item and yields (item, result) pairs as items finish; the Dask one connects at once,
before the first, and raises SetupError when it cannot. A failure of the machinery itself (a
worker process that died, a lost Dask worker) becomes the item's result, an Outcome like a
failed file's.
"""

import collections
import multiprocessing
import os
import select
import threading
from concurrent.futures import FIRST_COMPLETED, ProcessPoolExecutor, wait
from concurrent.futures.process import BrokenProcessPool

from morvex_convert.convert import FAILED, Outcome, convert_one, describe

# Items a pool holds per process: enough that no worker waits for its next one, few enough that
# a dead worker makes few of them suspects.
AHEAD = 2
DIED = Outcome(FAILED, "BrokenProcessPool: the process converting it died (killed by the system "
                       "for lack of memory?), and again when it was retried alone")


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
    """A worker that dies (the OOM killer) breaks its pool: a new pool takes the items not done.
    Those the dead pool held are retried one at a time first, so that an item that kills its
    worker again fails alone, and the others go on."""
    queue = collections.deque(tasks)
    suspects: collections.deque = collections.deque()
    while queue or suspects:
        yield from in_pool(queue, suspects, jobs, work)


def in_pool(queue, suspects, jobs: int, work):
    # forkserver: workers start from a clean process, not a copy of one that may already run
    # threads (a progress bar's monitor, for one).
    context = multiprocessing.get_context("forkserver")
    with ProcessPoolExecutor(max_workers=jobs, mp_context=context, initializer=watch,
                             initargs=(os.getpid(),)) as pool:
        held: dict = {}
        try:
            while queue or suspects or held:
                alone = bool(suspects)
                while suspects and not held:
                    task = suspects.popleft()
                    held[pool.submit(work, task)] = task
                while not alone and queue and len(held) < AHEAD * jobs:
                    task = queue.popleft()
                    held[pool.submit(work, task)] = task
                done, _ = wait(held, return_when=FIRST_COMPLETED)
                if any(isinstance(f.exception(), BrokenProcessPool) for f in done):
                    yield from broken(held, suspects, alone)
                    return
                for future in done:
                    yield held.pop(future), outcome_of(future)
        finally:
            pool.shutdown(cancel_futures=True)


def broken(held: dict, suspects, alone: bool):
    """Sorts a broken pool's items: finished ones reported, the one that died alone a second
    time failed, the others suspects to retry."""
    for future, task in held.items():
        if future.done() and not isinstance(future.exception(), BrokenProcessPool):
            yield task, outcome_of(future)
        elif alone:
            yield task, DIED
        else:
            suspects.append(task)


def watch(parent: int) -> None:
    """In each worker: end with the command. Its workers are the forkserver's children, and a
    killed command (the OOM killer's SIGKILL) would otherwise leave them, the forkserver and the
    resource tracker running for ever."""
    try:
        handle = os.pidfd_open(parent)
    except (AttributeError, OSError):
        handle = None
    threading.Thread(target=wait_for, args=(parent, handle), daemon=True).start()


def wait_for(parent: int, handle: int | None) -> None:
    if handle is not None:
        select.select([handle], [], [])  # readable once the process has ended
    else:
        while alive(parent):  # no pidfd (before Linux 5.3): asked once a second
            select.select([], [], [], 1.0)
    os._exit(1)


def alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def run_dask(tasks, address: str, timeout: float, work=convert_one):
    """Sends every file to the cluster's workers, which load and write it themselves: they need
    morvex installed and the same paths (a shared file system), so paths go as absolute ones."""
    try:
        from distributed import Client  # only a --dask run needs it
    except ImportError as error:
        raise SetupError(f"--dask needs distributed (the dask extra: pip install "
                         f"'morvex[dask]'): {error}") from None
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
