#!/usr/bin/python3
"""study.py with its cases as tasks of a concurrent.futures executor: the CSV the same as
GNU parallel's (a pool on this machine, a Dask LocalCluster), an executor that is shut down
refused before anything runs, a task that does not come back named and its case run again."""
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from concurrent.futures import Future, ThreadPoolExecutor
from contextlib import redirect_stderr, redirect_stdout

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SKINBURN = os.environ.get("SKINBURN", os.path.join(ROOT, "build", "default", "skinburn"))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True
import study  # noqa: E402

# A burn, no burn, and a case the input stage rejects.
STUDY = {"set": {"TIMESTEPS": 300}, "cases": [
    {"jet.standoff_ratio": 4}, {"jet.standoff_ratio": 8, "LEFT_AMBIENT": 400}, {"jet.offaxis": -0.01}]}


class LosesOne(ThreadPoolExecutor):
    """A pool whose second task never comes back, as when the worker running it is killed."""

    def submit(self, fn, *args, **kwargs):
        self.count = getattr(self, "count", 0) + 1
        if self.count == 2:
            lost: Future = Future()
            lost.set_exception(RuntimeError("worker tcp://10.0.0.7:4242 died"))
            return lost
        return super().submit(fn, *args, **kwargs)


class ExecutorTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if shutil.which("parallel") is None:
            raise unittest.SkipTest("GNU parallel is not installed (tools/deps.sh parallel)")
        cls.tmp = tempfile.mkdtemp()
        shutil.copytree(os.path.join(ROOT, "examples", "airbag-jet"), os.path.join(cls.tmp, "template"))
        with open(os.path.join(cls.tmp, "study.json"), "w") as f:
            json.dump(STUDY, f)
        out = subprocess.run([sys.executable, os.path.join(HERE, "study.py"), "-j", "2", "--quiet",
                              "--skinburn", SKINBURN, "template", "study.json", "st"],
                             cwd=cls.tmp, capture_output=True, text=True)
        assert out.returncode == 0, out.stderr
        cls.by_parallel = cls.csv("st")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    @classmethod
    def csv(cls, name):
        with open(os.path.join(cls.tmp, name, "study.csv")) as f:
            return f.read()

    def study(self, name, *options, executor=None, parallel=()):
        """study.main in this process, in the temporary directory; (status, stderr)."""
        err = io.StringIO()
        here = os.getcwd()
        os.chdir(self.tmp)
        try:
            with redirect_stdout(io.StringIO()), redirect_stderr(err):
                status = study.main(["--quiet", "--skinburn", SKINBURN, *options, "template", "study.json", name,
                                     *parallel],
                                    executor=executor)
        finally:
            os.chdir(here)
        return status, err.getvalue()

    def test_a_pool_gives_the_csv_gnu_parallel_gives(self):
        status, err = self.study("pool", "--executor", "pool", "-j", "2")
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(self.csv("pool"), self.by_parallel.replace("st/", "pool/"))
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "pool", "joblog")))

    def test_a_dask_cluster_gives_the_csv_gnu_parallel_gives(self):
        try:
            import distributed
        except ImportError:
            self.skipTest("Dask distributed is not installed (tools/deps.sh python3-distributed)")
        with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=False,
                                      dashboard_address=None) as cluster, distributed.Client(cluster) as client:
            status, err = self.study("dask", executor=client.get_executor())
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(self.csv("dask"), self.by_parallel.replace("st/", "dask/"))

    def test_a_shut_down_executor_runs_nothing_and_a_lost_task_runs_again(self):
        pool = ThreadPoolExecutor(1)
        pool.shutdown()
        status, err = self.study("lost", executor=pool)
        self.assertEqual(status, 2)
        self.assertIn("shut down", err)
        self.assertFalse(any(os.path.exists(os.path.join(self.tmp, "lost", t, "status"))
                             for t in ("t001", "t002", "t003")))

        with LosesOne(2) as losing:
            status, err = self.study("lost", executor=losing)
        self.assertEqual(status, 1)
        self.assertIn("t002: its task did not come back (RuntimeError: worker tcp://10.0.0.7:4242 died)", err)
        self.assertIn("1 trials did not complete", err)
        self.assertIn("did not complete (run the study again to resume)", self.csv("lost").splitlines()[2])

        status, err = self.study("lost", "--executor", "pool")  # only t002 runs again
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(self.csv("lost"), self.by_parallel.replace("st/", "lost/"))
        status, err = self.study("lost", "--executor", "pool", parallel=("--", "--slf", "hosts"))
        self.assertEqual(status, 2)  # options for GNU parallel make no sense with an executor
        self.assertIn("an executor replaces", err)


if __name__ == "__main__":
    unittest.main()
