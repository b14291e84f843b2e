// Sending a room's changes: one request at a time, the latest value of each register winning;
// a page's step (a slider drag is one) is the unit of undo and redo, through the server's
// history (the journal's ids of the changes it made).
import { call } from './api.js';
import { text } from './texts.js';

// `path`: rooms/NAME. `hooks`: confirmed(register) for each register the processor confirmed,
// failed(message) when a request fails (the page shows what the processor holds again),
// stacks(canUndo, canRedo) when either changes, say(message) for a word to the user.
export function roomSender(path, hooks) {
  const pending = new Map();
  let inFlight = false;
  let step = null; // the step being made: { ids, after, open }
  const undoStack = [];
  const redoStack = [];

  const showStacks = () => hooks.stacks(undoStack.length > 0, redoStack.length > 0);

  function finishStep() {
    if (!step || step.open || inFlight || pending.size) return;
    if (step.ids.length) {
      undoStack.push(step);
      redoStack.length = 0;
    }
    step = null;
    showStacks();
  }

  async function pump() {
    if (inFlight || !pending.size) return finishStep();
    const list = [...pending].map(([name, value]) => ({ name, value }));
    pending.clear();
    inFlight = true;
    try {
      const answer = await call('PATCH', `${path}/registers`, { registers: list });
      if (step) {
        step.ids.push(...answer.ids);
        for (const r of answer.registers) step.after[r.name] = r.value;
      }
      for (const r of answer.registers) hooks.confirmed(r);
    } catch (error) {
      hooks.failed(error.message);
    }
    inFlight = false;
    pump();
  }

  return {
    // A control moved: its register to this value, as part of the step under way.
    queue(name, value) {
      if (!step) step = { ids: [], after: {}, open: true };
      pending.set(name, value);
      pump();
    },
    // The control let go: the step is over once what it sent is answered.
    endStep() {
      if (step) step.open = false;
      finishStep();
    },
    // Every register of `values` that differs from `current` (name -> value), written as
    // given in one request, and one step to undo; `label` names it.
    async sendWhole(values, current, label) {
      const list = Object.entries(values).filter(([name, value]) => current.get(name)?.value !== value)
        .map(([name, value]) => ({ name, value }));
      if (!list.length) return { ids: [], count: 0 };
      const answer = await call('PATCH', `${path}/registers`, { registers: list, rules: false });
      const after = {};
      for (const r of answer.registers) {
        after[r.name] = r.value;
        hooks.confirmed(r);
      }
      if (answer.ids.length) undoStack.push({ ids: answer.ids, after, label });
      showStacks();
      return { ids: answer.ids, count: list.length };
    },
    async undo() {
      const last = undoStack.pop();
      if (!last) return hooks.say(text('nothingUndo'));
      try {
        await call('POST', `${path}/undo`, { ids: last.ids });
        redoStack.push(last);
      } catch (error) {
        undoStack.push(last);
        hooks.say(error.message);
      }
      showStacks();
    },
    async redo() {
      const next = redoStack.pop();
      if (!next) return hooks.say(text('nothingRedo'));
      try {
        const answer = await call('PATCH', `${path}/registers`, {
          registers: Object.entries(next.after).map(([name, value]) => ({ name, value })), rules: false,
        });
        undoStack.push({ ids: answer.ids, after: next.after });
      } catch (error) {
        redoStack.push(next);
        hooks.say(error.message);
      }
      showStacks();
    },
    showStacks,
  };
}
