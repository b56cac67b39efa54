__version__: str

from abyx_tools.arrival_tables import (
    ArrivalArrays as ArrivalArrays,
    arrival_arrays as arrival_arrays,
    arrivals as arrivals,
    impulse_response as impulse_response,
)
from abyx_tools.builder import config as config
from abyx_tools.checks import Finding as Finding, check as check
from abyx_tools.dataset import complex_pressure as complex_pressure, to_dataset as to_dataset
from abyx_tools.fans import FanSpacing as FanSpacing, suggest_fan as suggest_fan
from abyx_tools.files import SavedRun as SavedRun, load as load, save as save
from abyx_tools.results import (
    FieldArrays as FieldArrays,
    RayPath as RayPath,
    ray_paths as ray_paths,
    to_arrays as to_arrays,
    transmission_loss_db as transmission_loss_db,
)
from abyx_tools.runtime import run as run, set_worker_threads as set_worker_threads
from abyx_tools.sweeps import sweep as sweep

__all__: list[str]
