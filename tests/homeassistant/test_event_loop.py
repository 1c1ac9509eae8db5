"""No call into kestrava_plan on the event loop's thread: a profiler on that thread sees
every Python and C call while a load is added, re-planned at boundaries and on new
prices, and checked in the options flow; plan itself is seen running elsewhere."""

import sys
import threading
from pathlib import Path

import kestrava_plan
from load_harness import PRICE_SENSOR, RULES, add_load, move_to, raw_today, records_of, with_raw_tomorrow

PACKAGE = str(Path(kestrava_plan.__file__).parent)


def _into_package(frame, event, arg):
    if event == "c_call":
        return (getattr(arg, "__module__", None) or "").startswith("kestrava")
    return event == "call" and frame.f_code.co_filename.startswith(PACKAGE)


async def test_no_call_into_the_package_on_the_loop_thread(hass, freezer, monkeypatch):
    plan_threads = []
    real_plan = kestrava_plan.plan

    def plan(*args, **kwargs):
        plan_threads.append(threading.get_ident())
        return real_plan(*args, **kwargs)

    monkeypatch.setattr(kestrava_plan, "plan", plan)
    today = records_of(raw_today(), "raw_today")  # the test's own reading, before the profiler
    on_loop = []
    sys.setprofile(lambda frame, event, arg: on_loop.append(frame.f_code.co_name)
                   if _into_package(frame, event, arg) else None)
    try:
        freezer.move_to(today.times[0])
        hass.states.async_set(PRICE_SENSOR, "0.1", raw_today())
        entry = (await add_load(hass, RULES))["result"]
        for start in today.times[1:14]:
            await move_to(hass, freezer, start)
        hass.states.async_set(PRICE_SENSOR, "0.1", with_raw_tomorrow())
        await hass.async_block_till_done()
        flow = await hass.config_entries.options.async_init(entry.entry_id)
        await hass.config_entries.options.async_configure(flow["flow_id"], {**RULES, "min_run": {"hours": 5}})
    finally:
        sys.setprofile(None)
    assert on_loop == []
    assert len(plan_threads) > 14 and threading.get_ident() not in plan_threads
